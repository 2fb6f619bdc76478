"""The independent side of the PSKC tests: python3-pskc reads and writes
containers with the same password or key as the program.
  dump FILE (--password-file F | --key-file F): the keys as JSON, secrets hex
  write FILE TOKENS.json (--password-file F | --key-file F) [--iterations N
      --salt-length N]: the keys of TOKENS.json (as dump prints them) into a
      new container
"""

import argparse
import json
import sys

import pskc
from pskc.exceptions import PSKCError

FIELDS = dict(id='id', algorithm='algorithm', suite='algorithm_suite', digits='response_length',
              encoding='response_encoding', counter='counter', interval='time_interval',
              user='key_userid', manufacturer='manufacturer', model='model', serial='serial',
              binding='device_binding')


def credential(args):
    if args.password_file:
        with open(args.password_file) as f:
            return 'password', f.readline().rstrip('\r\n')
    with open(args.key_file) as f:
        return 'key', bytes.fromhex(f.read().strip())


def dump(args):
    container = pskc.PSKC(args.file)
    kind, value = credential(args)
    if kind == 'password':
        container.encryption.derive_key(value)
    else:
        container.encryption.key = value
    json.dump([dict({name: getattr(key, attribute) for name, attribute in FIELDS.items()},
                    secret=key.secret.hex()) for key in container.keys], sys.stdout)


def write(args):
    container = pskc.PSKC()
    with open(args.tokens) as f:
        for wanted in json.load(f):
            key = container.add_key(secret=bytes.fromhex(wanted['secret']))
            for name, attribute in FIELDS.items():
                setattr(key, attribute, 'DECIMAL' if name == 'encoding' else wanted[name])
    kind, value = credential(args)
    if kind == 'password':
        container.encryption.setup_pbkdf2(value, iterations=args.iterations,
                                          salt_length=args.salt_length)
    else:
        container.encryption.setup_preshared_key(key=value, algorithm='aes%d-cbc' % (8 * len(value)))
    container.write(args.file)


parser = argparse.ArgumentParser()
parser.add_argument('command', choices=['dump', 'write'])
parser.add_argument('file')
parser.add_argument('tokens', nargs='?')
parser.add_argument('--password-file')
parser.add_argument('--key-file')
parser.add_argument('--iterations', type=int)
parser.add_argument('--salt-length', type=int, default=16)
args = parser.parse_args()
try:
    dump(args) if args.command == 'dump' else write(args)
except PSKCError as error:
    print('pskc: %s' % error, file=sys.stderr)
    sys.exit(1)

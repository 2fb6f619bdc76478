"""A server's PSKC import as the narrowest importers do it, written for the
tests from RFC 6030 alone: only the mandatory algorithms (AES-128-CBC,
HMAC-SHA1 for every ValueMAC, PBKDF2 with HMAC-SHA1 and a 16-byte key, or a
16-byte pre-shared key), each token named by its DeviceInfo/SerialNo and its
hash by its Suite, one token per serial.
  strict_import.py FILE (--password-file F | --key-file F)
prints the tokens as JSON (serial, secret in hex, hash, digits, counter,
interval); anything else exits 1 with the reason on standard error.
"""

import argparse
import base64
import hashlib
import hmac
import json
import sys
import xml.etree.ElementTree as ET

from cryptography.hazmat.primitives import padding
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

PSKC = '{urn:ietf:params:xml:ns:keyprov:pskc}'
XENC = '{http://www.w3.org/2001/04/xmlenc#}'
XENC11 = '{http://www.w3.org/2009/xmlenc11#}'
PKCS5 = '{http://www.rsasecurity.com/rsalabs/pkcs/schemas/pkcs-5v2-0#}'
DS = '{http://www.w3.org/2000/09/xmldsig#}'
AES128 = 'http://www.w3.org/2001/04/xmlenc#aes128-cbc'
HMAC_SHA1 = 'http://www.w3.org/2000/09/xmldsig#hmac-sha1'
PBKDF2 = 'http://www.rsasecurity.com/rsalabs/pkcs/schemas/pkcs-5v2-0#pbkdf2'
ALGORITHMS = {'urn:ietf:params:xml:ns:keyprov:pskc:hotp': 'hotp',
              'urn:ietf:params:xml:ns:keyprov:pskc:totp': 'totp'}
HASHES = {'sha1': 'sha1', 'sha256': 'sha256'}


class Refused(Exception):
    pass


def need(condition, why):
    if not condition:
        raise Refused(why)


def decrypt(key, encrypted):
    method = encrypted.find(XENC + 'EncryptionMethod')
    need(method is not None and method.get('Algorithm') == AES128,
         'not encrypted with aes128-cbc')
    value = base64.b64decode(encrypted.findtext(XENC + 'CipherData/' + XENC + 'CipherValue'))
    need(len(value) >= 32 and len(value) % 16 == 0, 'a CipherValue of a wrong length')
    decryptor = Cipher(algorithms.AES(key), modes.CBC(value[:16])).decryptor()
    padded = decryptor.update(value[16:]) + decryptor.finalize()
    unpadder = padding.PKCS7(128).unpadder()
    return value, unpadder.update(padded) + unpadder.finalize()


def encryption_key(root, args):
    encryption = root.find(PSKC + 'EncryptionKey')
    need(encryption is not None, 'no EncryptionKey')
    derived = encryption.find(XENC11 + 'DerivedKey')
    if args.key_file:
        need(derived is None, 'a password file, not a pre-shared key')
        with open(args.key_file) as f:
            key = bytes.fromhex(f.read().strip())
        need(len(key) == 16, 'a pre-shared key of %d bytes, not AES-128' % len(key))
        return key
    need(derived is not None, 'a pre-shared key, not a password')
    method = derived.find(XENC11 + 'KeyDerivationMethod')
    need(method.get('Algorithm') == PBKDF2, 'a key derivation other than PBKDF2')
    params = method.find(PKCS5 + 'PBKDF2-params')
    prf = params.find('PRF')
    need(prf is None or prf.get('Algorithm') == HMAC_SHA1, 'a PBKDF2 PRF other than HMAC-SHA1')
    need(params.findtext('KeyLength', '16').strip() == '16', 'a derived key other than 16 bytes')
    salt = base64.b64decode(params.findtext('Salt/Specified'))
    iterations = int(params.findtext('IterationCount'))
    with open(args.password_file) as f:
        password = f.readline().rstrip('\r\n')
    return hashlib.pbkdf2_hmac('sha1', password.encode(), salt, iterations, 16)


def import_tokens(args):
    root = ET.parse(args.file).getroot()
    need(root.tag == PSKC + 'KeyContainer' and root.get('Version') == '1.0', 'not PSKC 1.0')
    key = encryption_key(root, args)
    mac_method = root.find(PSKC + 'MACMethod')
    need(mac_method is not None and mac_method.get('Algorithm') == HMAC_SHA1,
         'a MAC other than HMAC-SHA1')
    _, mac_key = decrypt(key, mac_method.find(PSKC + 'MACKey'))
    tokens = {}
    for package in root.findall(PSKC + 'KeyPackage'):
        serial = package.findtext(PSKC + 'DeviceInfo/' + PSKC + 'SerialNo')
        need(serial, 'a KeyPackage without DeviceInfo/SerialNo')
        need(serial not in tokens, 'serial %s twice: the second would replace the first' % serial)
        token_key = package.find(PSKC + 'Key')
        algorithm = ALGORITHMS.get(token_key.get('Algorithm'))
        need(algorithm, 'serial %s: not HOTP or TOTP' % serial)
        parameters = token_key.find(PSKC + 'AlgorithmParameters')
        suite = parameters.findtext(PSKC + 'Suite', 'sha1').strip()
        need(suite in HASHES, 'serial %s: Suite %r is no hash name' % (serial, suite))
        response = parameters.find(PSKC + 'ResponseFormat')
        need(response.get('Encoding') == 'DECIMAL', 'serial %s: not decimal' % serial)
        data = token_key.find(PSKC + 'Data')
        secret = data.find(PSKC + 'Secret')
        cipher_value, seed = decrypt(key, secret.find(PSKC + 'EncryptedValue'))
        mac = base64.b64decode(secret.findtext(PSKC + 'ValueMAC'))
        need(hmac.compare_digest(mac, hmac.new(mac_key, cipher_value, 'sha1').digest()),
             'serial %s: the ValueMAC does not match' % serial)
        token = dict(serial=serial, algorithm=algorithm, hash=HASHES[suite], secret=seed.hex(),
                     digits=int(response.get('Length')))
        if algorithm == 'hotp':
            token['counter'] = int(data.findtext(PSKC + 'Counter/' + PSKC + 'PlainValue', '0'))
        else:
            token['interval'] = int(
                data.findtext(PSKC + 'TimeInterval/' + PSKC + 'PlainValue', '30'))
        tokens[serial] = token
    return list(tokens.values())


parser = argparse.ArgumentParser()
parser.add_argument('file')
parser.add_argument('--password-file')
parser.add_argument('--key-file')
args = parser.parse_args()
try:
    json.dump(import_tokens(args), sys.stdout)
except (Refused, ValueError, AttributeError, TypeError) as error:
    print('strict import refused: %s' % (error or type(error).__name__), file=sys.stderr)
    sys.exit(1)

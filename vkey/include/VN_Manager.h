/*
 * VN_Manager: the device library of the Vornik/Tessel OTP key.
 *
 * Plain C interface, usable from C and C++. Every call returns a 32-bit
 * status, 0 for success. All calls act on the one key that is plugged in;
 * with none plugged in they answer VN_ERR_NO_DEVICE, with several
 * VN_ERR_MULTIPLE_DEVICES.
 *
 * Our implementation is a virtual key (libVN_Manager.so); see the README for
 * how keys are stored and driven with the `vnkey` tool.
 */
#ifndef VN_MANAGER_H
#define VN_MANAGER_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Statuses the tool relies on. */
#define VN_OK 0x00000000u
#define VN_ERR_NO_DEVICE 0x80564E02u        /* no key plugged in */
#define VN_ERR_MULTIPLE_DEVICES 0x80564E03u /* more than one key plugged in */
#define VN_ERR_WRONG_ACCESS 0x80564E40u     /* access code wrong (or none set, on change) */
#define VN_ERR_NO_HW_ACCESS 0x80564E50u     /* key has no hardware access-code function */
#define VN_ERR_TOUCH_TIMEOUT 0x800A6984u    /* nobody touched the key in time */

/* Further statuses of the virtual key. */
#define VN_ERR_INVALID_ARGUMENT 0x80564E10u   /* null pointer, bad slot, bad length */
#define VN_ERR_INVALID_TOKEN 0x80564E11u      /* token fields out of range */
#define VN_ERR_DUPLICATE_SERIAL 0x80564E12u   /* a token with this serial is already on the key */
#define VN_ERR_KEY_FULL 0x80564E13u           /* the key already holds VN_MAX_TOKENS tokens */
#define VN_ERR_TOKEN_NOT_FOUND 0x80564E14u    /* no token with this serial */
#define VN_ERR_ACCESS_ALREADY_SET 0x80564E15u /* SetAccess while a code is set */
#define VN_ERR_STORAGE 0x80564E20u            /* the key's file cannot be read or written */
#define VN_ERR_CORRUPT_KEY 0x80564E21u        /* the key's file is damaged; it is left as it is */

/* Slots. */
#define VN_SLOT_PIN_RECORD 1u
#define VN_SLOT_ALL 0xF0u

/* Token types. */
#define VN_TYPE_HOTP 0x10u
#define VN_TYPE_TOTP 0x20u
#define VN_TYPE_STATIC_PASSWORD 0x30u
#define VN_TYPE_CHALLENGE_RESPONSE 0x40u

/* Hashes. */
#define VN_HASH_SHA1 1u
#define VN_HASH_SHA256 2u

#define VN_MAX_TOKENS 20
#define VN_SERIAL_FIELD_SIZE 64
#define VN_SEED_FIELD_SIZE 64
#define VN_OTP_BUFFER_SIZE 100
#define VN_CHALLENGE_BUFFER_SIZE 100

/* One token as exchanged with the key: 152 bytes, little-endian, no padding. */
typedef struct OtpTokenRecord
{
    uint32_t slot;     /* VN_SLOT_ALL for OTP tokens, VN_SLOT_PIN_RECORD for the PIN record */
    uint32_t type;     /* VN_TYPE_* */
    uint32_t hash;     /* VN_HASH_* */
    uint32_t digits;   /* 6 or 8 */
    uint32_t interval; /* 30 or 60 seconds */
    char serial[VN_SERIAL_FIELD_SIZE]; /* NUL-terminated, zero-filled */
    uint8_t seed[VN_SEED_FIELD_SIZE];
    uint32_t seedLength; /* valid bytes of seed */
} OtpTokenRecord;

/* Device information: 108 bytes; only serialNumber is meaningful. */
typedef struct DeviceInfoRecord
{
    uint8_t reserved[44];
    char serialNumber[64]; /* NUL-terminated */
} DeviceInfoRecord;

#ifdef __cplusplus
static_assert(sizeof(OtpTokenRecord) == 152, "OtpTokenRecord is 152 bytes");
static_assert(offsetof(OtpTokenRecord, slot) == 0);
static_assert(offsetof(OtpTokenRecord, type) == 4);
static_assert(offsetof(OtpTokenRecord, hash) == 8);
static_assert(offsetof(OtpTokenRecord, digits) == 12);
static_assert(offsetof(OtpTokenRecord, interval) == 16);
static_assert(offsetof(OtpTokenRecord, serial) == 20);
static_assert(offsetof(OtpTokenRecord, seed) == 84);
static_assert(offsetof(OtpTokenRecord, seedLength) == 148);
static_assert(sizeof(DeviceInfoRecord) == 108, "DeviceInfoRecord is 108 bytes");
static_assert(offsetof(DeviceInfoRecord, serialNumber) == 44);
#else
_Static_assert(sizeof(OtpTokenRecord) == 152, "OtpTokenRecord is 152 bytes");
_Static_assert(offsetof(OtpTokenRecord, serial) == 20, "serial at 20");
_Static_assert(offsetof(OtpTokenRecord, seed) == 84, "seed at 84");
_Static_assert(offsetof(OtpTokenRecord, seedLength) == 148, "seedLength at 148");
_Static_assert(sizeof(DeviceInfoRecord) == 108, "DeviceInfoRecord is 108 bytes");
_Static_assert(offsetof(DeviceInfoRecord, serialNumber) == 44, "serialNumber at 44");
#endif

#if defined(__GNUC__)
#define VN_API __attribute__((visibility("default")))
#else
#define VN_API
#endif

/*
 * Every call below may also answer VN_ERR_STORAGE (the key directory or the
 * key's file cannot be read or written) and VN_ERR_CORRUPT_KEY (the key's
 * file is damaged; it is reported, never replaced). No call keeps state
 * between calls: the keys live in files, see the README.
 */

/* Counts the plugged-in keys. reserved may be null and is not read; flags is 0.
 * 0: exactly one key; VN_ERR_NO_DEVICE: none; VN_ERR_MULTIPLE_DEVICES: several. */
VN_API uint32_t VN_ListDevice(uint32_t* reserved, uint32_t flags);

/* Fills info->serialNumber with the key's serial number; no other byte is
 * written. VN_ERR_INVALID_ARGUMENT for a null info. */
VN_API uint32_t VN_GetDeviceInfo(DeviceInfoRecord* info);

/* slot VN_SLOT_ALL: writes VN_MAX_TOKENS records (the tokens in programming
 * order with slot VN_SLOT_ALL, then zeroed records); seeds are never
 * returned (seed and seedLength zero). slot VN_SLOT_PIN_RECORD: writes one
 * record, exactly as written (seed included), zeroed when none was written.
 * VN_ERR_INVALID_ARGUMENT for another slot or a null buffer. */
VN_API uint32_t VN_OTP_List(uint32_t slot, OtpTokenRecord* records);

/* Waits for a touch. slot VN_SLOT_ALL adds a token (checked against the access
 * code when one is set); slot VN_SLOT_PIN_RECORD replaces the PIN record and
 * needs no access code. VN_ERR_TOUCH_TIMEOUT when nobody touched in time.
 * A request the key refuses is refused at once, before the touch:
 * VN_ERR_INVALID_ARGUMENT (slot neither 1 nor 0xF0, null access with a
 * length), VN_ERR_WRONG_ACCESS, VN_ERR_INVALID_TOKEN (type not HOTP/TOTP,
 * hash not SHA-1/SHA-256, digits not 6/8, interval not 30/60, serial empty
 * or unterminated, seedLength not 20/32; for slot 1 only an unterminated
 * serial or seedLength above 64), VN_ERR_DUPLICATE_SERIAL, VN_ERR_KEY_FULL.
 * flag is not read. */
VN_API uint32_t VN_OTP_Personalize(OtpTokenRecord record, const char* access, uint32_t accessLen,
                                   uint8_t flag);

/* Waits for a touch. Computes the OTP of the token with record.serial into
 * otp (VN_OTP_BUFFER_SIZE bytes, NUL-terminated); the token's own type,
 * hash, digits and interval count, not the record's. HOTP (RFC 4226) uses
 * and then advances the token's counter; TOTP (RFC 6238) reads the challenge
 * as the local time "%Y-%m-%d %H:%M:%S" (19 bytes); HOTP ignores it.
 * reserved is not read. VN_ERR_WRONG_ACCESS, VN_ERR_TOKEN_NOT_FOUND,
 * VN_ERR_INVALID_ARGUMENT (null otp, TOTP challenge not such a time),
 * VN_ERR_TOUCH_TIMEOUT. */
VN_API uint32_t VN_OTP_Calculate(OtpTokenRecord record, const char* challenge,
                                 uint32_t challengeLen, char* otp, uint32_t* reserved,
                                 const char* access, uint32_t accessLen);

/* Waits for a touch. Removes the token with record.serial; record.slot must
 * be VN_SLOT_ALL (else VN_ERR_INVALID_ARGUMENT). VN_ERR_WRONG_ACCESS,
 * VN_ERR_TOKEN_NOT_FOUND, VN_ERR_TOUCH_TIMEOUT. */
VN_API uint32_t VN_OTP_Delete(OtpTokenRecord record, const char* access, uint32_t accessLen);

/* Waits for a touch. Erases every token, the PIN record and the access code;
 * the ENTER flag stays. VN_ERR_TOUCH_TIMEOUT. */
VN_API uint32_t VN_OTP_Reset(void);

/* Stores whether the key types ENTER after an OTP (0 or 1; other values:
 * VN_ERR_INVALID_ARGUMENT). No touch. */
VN_API uint32_t VN_OTP_SetValueWithEnter(uint8_t enter);

/* *hasAccess becomes nonzero when an access code is set (always 0 on a key
 * without the function). slot must be VN_SLOT_ALL. */
VN_API uint32_t VN_OTP_HasAccess(uint32_t slot, uint8_t* hasAccess);

/* Sets the first access code (1 to 64 bytes, else VN_ERR_INVALID_ARGUMENT).
 * VN_ERR_NO_HW_ACCESS on a key without the function, VN_ERR_ACCESS_ALREADY_SET
 * when one is set. No touch. */
VN_API uint32_t VN_OTP_SetAccess(uint32_t slot, const char* code, uint32_t codeLen);

/* Replaces the access code (old equal to new verifies it). VN_ERR_NO_HW_ACCESS
 * on a key without the function; VN_ERR_WRONG_ACCESS when the old code is
 * wrong or none is set; VN_ERR_INVALID_ARGUMENT for an empty or too long new
 * code. No touch. */
VN_API uint32_t VN_OTP_ChangeAccess(uint32_t slot, const char* oldCode, uint32_t oldLen,
                                    const char* newCode, uint32_t newLen);

#ifdef __cplusplus
}
#endif

#endif /* VN_MANAGER_H */

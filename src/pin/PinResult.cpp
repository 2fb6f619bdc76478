#include "pin/PinResult.h"

Err err_from_code(int32_t code)
{
    switch (code) {
    case ErrCode::Timeout:
        return {code, "Token timed out."};
    case ErrCode::WrongPin:
        return {code, "Token PIN incorrect."};
    default:
        return {code, {}};
    }
}

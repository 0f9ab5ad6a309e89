#include "base/string/vral_string.h"

extern "C" char Base64ValueToChar(int iValue)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    return kAlphabet[iValue & 63];
}

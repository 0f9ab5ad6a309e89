#include <unicode/ucnv.h>

#include "base/err/vral_err.h"
#include "base/unicode/vral_unicode.h"

extern "C" const VRALCONVERTOR gConvertorTable[VRAL_CONVERTOR_COUNT + 1] = {
    {0, "UTF-8"},
    {1, "UTF-16"},
    {2, "vexa_win_english"},
    {3, "vexa_win_greek"},
    {4, "vexa_win_westeuro"},
    {5, "vexa_win_latin2"},
    {6, "vexa_win_turkish"},
    {7, "vexa_win_icelandic"},
    {8, "vexa_win_cyrillic"},
    {9, "vexa_win_japanese"},
    {10, "vexa_win_chinsimp"},
    {11, "vexa_win_korean"},
    {12, "vexa_win_chintrad"},
    {13, "vexa_win_easteuro_1250"},
    {14, "vexa_win_cyrillic_1251"},
    {15, "vexa_win_westeuro_1252"},
    {16, "vexa_win_greek_1253"},
    {17, "vexa_win_turkish_1254"},
    {18, "vexa_mac_eng_euro"},
    {19, "vexa_mac_greek"},
    {20, "vexa_mac_eng_euro"},
    {21, "vexa_mac_eng_euro"},
    {22, "vexa_mac_turkish"},
    {23, "vexa_mac_eng_euro"},
    {24, "vexa_mac_cyrillic"},
    {25, "vexa_mac_japanese"},
    {26, "vexa_mac_chinsimp"},
    {27, "vexa_mac_korean"},
    {28, "vexa_mac_chintrad"},
    {29, "vexa_mac_eng_euro"},
    {30, "vexa_mac_cyrillic"},
    {31, "vexa_mac_eng_euro"},
    {32, "vexa_mac_greek"},
    {33, "vexa_mac_turkish"},
    {-1, nullptr},
};

namespace {

// Opened once per id and kept for the life of the process.
UConverter *gConvertorCache[VRAL_CONVERTOR_COUNT];

}  // namespace

extern "C" UConverter *VRALUnicodeOpenConvertor(int id)
{
    if (static_cast<unsigned>(id) >= VRAL_CONVERTOR_COUNT) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return nullptr;
    }
    if (gConvertorCache[id] != nullptr)
        return gConvertorCache[id];
    const char *szName = nullptr;
    for (const VRALCONVERTOR *p = gConvertorTable; p->szName != nullptr; ++p) {
        if (p->id == id) {
            szName = p->szName;
            break;
        }
    }
    if (szName == nullptr)
        return nullptr;
    UErrorCode status = U_ZERO_ERROR;
    gConvertorCache[id] = ucnv_open(szName, &status);
    if (gConvertorCache[id] == nullptr)
        VRAL_ERR_SET(ERR_OPEN_FAILED);
    return gConvertorCache[id];
}

// Standard Base64 (the alphabet with "+" and "/", "=" padding, no line
// breaks). Plain C++ over bytes, so it also builds natively for the fuzz
// targets. The decoder is strict: only canonical text decodes (length a
// multiple of four, padding only at the end, unused bits zero), so every text
// it accepts is exactly what the encoder writes for the decoded bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ktxcmn {

// Characters of the encoding of cbData bytes (no terminator); false when the
// number does not fit a size_t.
bool Base64EncodedSize(size_t cbData, size_t* pcchText);
// Writes exactly the encoded size characters (no terminator) to pszText.
void Base64Encode(const uint8_t* pData, size_t cbData, char* pszText);
// Validates the text; pcbData receives the decoded size. False when it is not Base64.
bool Base64DecodedSize(const char* pszText, size_t cchText, size_t* pcbData);
// Decodes into pData of capacity cbCapacity. False, with nothing written,
// when the text is not Base64 or the bytes do not fit.
bool Base64Decode(const char* pszText, size_t cchText, uint8_t* pData, size_t cbCapacity, size_t* pcbData);

}  // namespace ktxcmn

// Fuzz target of the Base64 decoder (native, libFuzzer). Any input as text:
// the decoder never writes past its capacity, and every text it accepts is
// exactly what the encoder writes for the decoded bytes. Any input as bytes:
// encoding and decoding give the bytes back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Base64.h"

using namespace ktxcmn;

namespace {

void Require(bool condition)
{
    if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    size_t decodedSize = 0;
    bool valid = Base64DecodedSize(text, size, &decodedSize);
    size_t written = 0;
    if (!valid) {
        std::vector<uint8_t> sink(size + 1);
        Require(!Base64Decode(text, size, sink.data(), sink.size(), &written));
    } else {
        // Exactly the decoded size (heap-allocated, so a write past it is caught).
        std::vector<uint8_t> exact(decodedSize);
        Require(Base64Decode(text, size, exact.data(), exact.size(), &written));
        Require(written == decodedSize);
        if (decodedSize > 0) {
            std::vector<uint8_t> small(decodedSize - 1);
            Require(!Base64Decode(text, size, small.data(), small.size(), &written));
        }
        size_t encodedSize = 0;
        Require(Base64EncodedSize(decodedSize, &encodedSize) && encodedSize == size);
        std::vector<char> again(encodedSize);
        Base64Encode(exact.data(), exact.size(), again.data());
        Require(size == 0 || memcmp(again.data(), text, size) == 0);
    }

    size_t encodedSize = 0;
    Require(Base64EncodedSize(size, &encodedSize));
    std::vector<char> encoded(encodedSize);
    Base64Encode(data, size, encoded.data());
    std::vector<uint8_t> decoded(size);
    Require(Base64Decode(encoded.data(), encoded.size(), decoded.data(), decoded.size(), &written));
    Require(written == size && (size == 0 || memcmp(decoded.data(), data, size) == 0));
    return 0;
}

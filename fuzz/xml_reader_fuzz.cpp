// Fuzz target of the XML reader (native, libFuzzer). Any input: the reader
// never crashes and stays within its limits; a document it accepts is
// written, and what is written reads back as the same tree.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "XmlDocument.h"

using namespace ktxcmn;

namespace {

void Require(bool condition)
{
    if (!condition) abort();
}

void RoundTrip(const char* data, size_t size, const XmlLimits& limits)
{
    XmlDocument doc(limits);
    XmlParseError error;
    if (!doc.Load(data, size, &error)) {
        Require(!doc.HasRoot());
        Require(error.offset <= size);
        return;
    }
    Require(doc.ElementCount() <= limits.maxElements);
    Require(doc.AttributeCount() <= limits.maxTotalAttributes);

    // Written output may be longer than the input (escapes, indentation).
    XmlLimits writeLimits = limits;
    writeLimits.maxInput = static_cast<size_t>(-1);
    std::string out;
    Require(XmlWrite(*doc.Root(), writeLimits, out));
    XmlDocument back(writeLimits);
    Require(back.Load(out.data(), out.size(), &error));
    Require(XmlTreesEqual(*doc.Root(), *back.Root()));
    Require(back.ElementCount() == doc.ElementCount());
    Require(back.AttributeCount() == doc.AttributeCount());

    // Every child of the root is found by its path, in any letter case.
    for (const auto& child : doc.Root()->Children()) {
        if (!XmlIsPathName(child->name) || !XmlIsPathName(doc.Root()->name)) continue;
        const XmlElement* p = nullptr;
        std::string path = doc.Root()->name + "." + child->name;
        for (char& c : path) {
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        }
        Require(back.Find(path, &p) == XmlStatus::Ok && p->name == child->name);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    RoundTrip(text, size, XmlLimits());
    // Tight limits, so that every bound is reached by small inputs.
    XmlLimits tight;
    tight.maxInput = 4096;
    tight.maxDepth = 8;
    tight.maxName = 16;
    tight.maxAttrValue = 64;
    tight.maxText = 128;
    tight.maxAttributes = 4;
    tight.maxChildren = 8;
    tight.maxElements = 32;
    tight.maxTotalAttributes = 16;
    RoundTrip(text, size, tight);
    return 0;
}

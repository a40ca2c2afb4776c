// Path helpers against tables, with guard bytes behind every buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "KTXCMN32.h"

namespace {

// A LS_PATH_SIZE buffer followed by guard bytes that must stay untouched.
struct GuardedPath {
    static constexpr size_t kGuard = 64;
    char data[LS_PATH_SIZE + kGuard];
    GuardedPath() { memset(data, 0xCC, sizeof(data)); }
    explicit GuardedPath(const std::string& text) : GuardedPath()
    {
        size_t n = text.size() < sizeof(data) ? text.size() : sizeof(data) - 1;
        memcpy(data, text.data(), n);
        data[n] = '\0';
    }
    bool GuardIntact() const
    {
        for (size_t i = LS_PATH_SIZE; i < sizeof(data); ++i) {
            if (static_cast<unsigned char>(data[i]) != 0xCC) return false;
        }
        return true;
    }
    std::string Str() const { return std::string(data, strnlen(data, LS_PATH_SIZE)); }
};

const std::string k255 = "C:\\" + std::string(247, 'f') + ".txt1";  // 255 characters
const std::string k256 = k255 + "x";                                 // one too many

struct SplitCase {
    std::string path, dir, name, ext;
};

const SplitCase kSplitCases[] = {
    {"C:\\dir\\file.txt", "C:\\dir\\", "file", ".txt"},
    {"C:\\file", "C:\\", "file", ""},
    {"C:\\", "C:\\", "", ""},
    {"C:", "C:", "", ""},
    {"C:file.txt", "C:", "file", ".txt"},
    {"\\\\server\\share\\dir\\file.xml", "\\\\server\\share\\dir\\", "file", ".xml"},
    {"\\\\server\\share\\file", "\\\\server\\share\\", "file", ""},
    {"\\\\server\\share", "\\\\server\\share", "", ""},
    {"\\\\ser.ver\\sha.re", "\\\\ser.ver\\sha.re", "", ""},
    {"C:\\dir.v2\\file", "C:\\dir.v2\\", "file", ""},
    {"C:\\dir.v2\\file.tar.gz", "C:\\dir.v2\\", "file.tar", ".gz"},
    {"C:\\dir\\sub\\", "C:\\dir\\sub\\", "", ""},
    {"C:/dir/file.txt", "C:/dir/", "file", ".txt"},
    {"file.txt", "", "file", ".txt"},
    {"file.", "", "file", "."},
    {".profile", "", "", ".profile"},
    {"\\dir\\file.txt", "\\dir\\", "file", ".txt"},
    {"", "", "", ""},
    {k255, "C:\\", std::string(247, 'f'), ".txt1"},
};

TEST(SplitPath, Table)
{
    for (const SplitCase& c : kSplitCases) {
        SCOPED_TRACE(c.path);
        GuardedPath dir, name, ext;
        EXPECT_TRUE(TLSTools::SplitPath(c.path.c_str(), dir.data, name.data, ext.data));
        EXPECT_EQ(dir.Str(), c.dir);
        EXPECT_EQ(name.Str(), c.name);
        EXPECT_EQ(ext.Str(), c.ext);
        EXPECT_EQ(dir.Str() + name.Str() + ext.Str(), c.path) << "the parts make up the path";
        EXPECT_TRUE(dir.GuardIntact() && name.GuardIntact() && ext.GuardIntact());
    }
}

TEST(SplitPath, OutputsMayBeNull)
{
    GuardedPath name;
    EXPECT_TRUE(TLSTools::SplitPath("C:\\a\\safe.xml", nullptr, name.data, nullptr));
    EXPECT_EQ(name.Str(), "safe");
    EXPECT_TRUE(TLSTools::SplitPath("C:\\a\\safe.xml", nullptr, nullptr, nullptr));
}

TEST(SplitPath, RefusesOverlongOrMissingInput)
{
    GuardedPath dir("stale"), name("stale"), ext("stale");
    std::string longPath = "C:\\" + std::string(1000, 'a') + ".txt";
    EXPECT_FALSE(TLSTools::SplitPath(k256.c_str(), dir.data, name.data, ext.data));
    EXPECT_FALSE(TLSTools::SplitPath(longPath.c_str(), dir.data, name.data, ext.data));
    EXPECT_EQ(dir.Str(), "");
    EXPECT_EQ(name.Str(), "");
    EXPECT_EQ(ext.Str(), "");
    EXPECT_TRUE(dir.GuardIntact() && name.GuardIntact() && ext.GuardIntact());
    EXPECT_FALSE(TLSTools::SplitPath(nullptr, dir.data, name.data, ext.data));
}

struct ReplaceCase {
    std::string ext, path, expected;
    bool ok;
};

const ReplaceCase kReplaceCases[] = {
    {".bak", "C:\\dir\\safe.xml", "C:\\dir\\safe.bak", true},
    {".~ls", "C:\\dir\\safe.xml", "C:\\dir\\safe.~ls", true},
    {"xmk", "C:\\dir\\safe.xml", "C:\\dir\\safe.xmk", true},
    {".bak", "C:\\dir\\safe", "C:\\dir\\safe.bak", true},
    {".bak", "C:\\dir.v2\\safe", "C:\\dir.v2\\safe.bak", true},
    {".bak", "C:\\dir.v2\\safe.tar.gz", "C:\\dir.v2\\safe.tar.bak", true},
    {".bak", "\\\\server\\share\\safe.xml", "\\\\server\\share\\safe.bak", true},
    {"", "C:\\dir\\safe.xml", "C:\\dir\\safe", true},
    {".bak", "C:\\dir\\", "C:\\dir\\", false},
    {".bak", "C:\\", "C:\\", false},
    {".bak", "\\\\server\\share", "\\\\server\\share", false},
    {".b\\k", "C:\\dir\\safe.xml", "C:\\dir\\safe.xml", false},
    {".b:k", "C:\\dir\\safe.xml", "C:\\dir\\safe.xml", false},
    {".b*k", "C:\\dir\\safe.xml", "C:\\dir\\safe.xml", false},
    {".bak.", "C:\\dir\\safe.xml", "C:\\dir\\safe.xml", false},
    {".txt9", k255, k255.substr(0, 250) + ".txt9", true},
    {".longer", k255, k255, false},  // would not fit: unchanged
};

TEST(ReplaceExtension, Table)
{
    for (const ReplaceCase& c : kReplaceCases) {
        SCOPED_TRACE(c.ext + " | " + c.path);
        GuardedPath path(c.path);
        EXPECT_EQ(TLSTools::ReplaceExtension(c.ext.c_str(), path.data), c.ok);
        EXPECT_EQ(path.Str(), c.expected);
        EXPECT_TRUE(path.GuardIntact());
    }
}

TEST(ReplaceExtension, RefusesUnterminatedBufferAndNulls)
{
    GuardedPath path;
    memset(path.data, 'a', LS_PATH_SIZE);  // no terminator within the buffer
    EXPECT_FALSE(TLSTools::ReplaceExtension(".bak", path.data));
    EXPECT_TRUE(path.GuardIntact());
    EXPECT_FALSE(TLSTools::ReplaceExtension(nullptr, path.data));
    EXPECT_FALSE(TLSTools::ReplaceExtension(".bak", nullptr));
}

struct SlashCase {
    std::string path, expected;
};

const SlashCase kSlashCases[] = {
    {"C:\\dir\\", "C:\\dir"},
    {"C:\\dir", "C:\\dir"},
    {"C:\\dir\\\\", "C:\\dir"},
    {"C:/dir/", "C:/dir"},
    {"C:\\", "C:\\"},
    {"C:", "C:"},
    {"\\", "\\"},
    {"\\\\server\\share\\", "\\\\server\\share"},
    {"\\\\server\\share\\dir\\", "\\\\server\\share\\dir"},
    {"dir\\", "dir"},
    {"", ""},
    {k255.substr(0, 254) + "\\", k255.substr(0, 254)},
};

TEST(RemovePathSlash, Table)
{
    for (const SlashCase& c : kSlashCases) {
        SCOPED_TRACE(c.path);
        GuardedPath path(c.path);
        EXPECT_TRUE(TLSTools::RemovePathSlash(path.data));
        EXPECT_EQ(path.Str(), c.expected);
        EXPECT_TRUE(path.GuardIntact());
    }
}

TEST(RemovePathSlash, RefusesUnterminatedBufferAndNull)
{
    GuardedPath path;
    memset(path.data, '\\', LS_PATH_SIZE);
    EXPECT_FALSE(TLSTools::RemovePathSlash(path.data));
    EXPECT_TRUE(path.GuardIntact());
    EXPECT_EQ(static_cast<unsigned char>(path.data[LS_PATH_SIZE - 1]), '\\') << "nothing changed";
    EXPECT_FALSE(TLSTools::RemovePathSlash(nullptr));
}

}  // namespace

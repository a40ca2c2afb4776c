// The COM objects of a drag called directly: interfaces, reference counts,
// formats and media, the file list written only during a drop, the enumerator
// and the drop source's decisions.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>

#include "DragTestSupport.h"
#include "LSDragObjects.h"
#include "TestSupport.h"

using namespace ktxtest;

namespace {

// Objects whose destruction the tests can count: each probe derives from the
// product class and counts its own destructor, run through the virtual one.
int g_nDestroyed = 0;

char* DupText(const char* psz)
{
    size_t n = strlen(psz);
    char* p = new char[n + 1];
    memcpy(p, psz, n + 1);
    return p;
}

struct ProbeText : TLSTextDataObject {
    explicit ProbeText(const char* psz) : TLSTextDataObject(DupText(psz), strlen(psz)) {}
    ~ProbeText() override { ++g_nDestroyed; }
};
struct ProbeFile : TLSFileDataObject {
    using TLSFileDataObject::TLSFileDataObject;
    ~ProbeFile() override { ++g_nDestroyed; }
};
struct ProbeEnum : TLSEnum {
    using TLSEnum::TLSEnum;
    ~ProbeEnum() override { ++g_nDestroyed; }
};
struct ProbeSource : TLSDropSource {
    using TLSDropSource::TLSDropSource;
    ~ProbeSource() override { ++g_nDestroyed; }
};

// A drag source for the objects that serve one.
class DragObjects : public ::testing::Test {
protected:
    void SetUp() override { g_nDestroyed = 0; }
    RecordingSink sink;
    TLSDragSrc src{nullptr, &sink, nullptr};
};

struct ObjectKind {
    const char* name;
    std::function<IUnknown*(TLSDragSrcIF*)> make;
    IID own;
};

const ObjectKind kKinds[] = {
    {"text", [](TLSDragSrcIF*) -> IUnknown* { return static_cast<IDataObject*>(new ProbeText("secret")); },
     IID_IDataObject},
    {"file", [](TLSDragSrcIF* p) -> IUnknown* { return static_cast<IDataObject*>(new ProbeFile(p)); },
     IID_IDataObject},
    {"enum", [](TLSDragSrcIF*) -> IUnknown* { return new ProbeEnum(CF_TEXT); }, IID_IEnumFORMATETC},
    {"source", [](TLSDragSrcIF* p) -> IUnknown* { return new ProbeSource(p); }, IID_IDropSource},
};

}  // namespace

TEST_F(DragObjects, QueryInterfaceAnswersOwnInterfacesAndRefusesOthers)
{
    const IID others[] = {IID_IDropTarget, IID_IStream, IID_IDataObject, IID_IEnumFORMATETC, IID_IDropSource,
                          IID_IClassFactory};
    for (const auto& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        g_nDestroyed = 0;
        IUnknown* pObj = kind.make(&src);

        for (IID iid : {IID_IUnknown, kind.own}) {
            void* pv = nullptr;
            ASSERT_EQ(S_OK, pObj->QueryInterface(iid, &pv));
            EXPECT_NE(nullptr, pv);
            EXPECT_EQ(1u, static_cast<IUnknown*>(pv)->Release());  // the answer had added a reference
        }
        for (IID iid : others) {
            if (IsEqualIID(iid, kind.own)) continue;
            void* pv = reinterpret_cast<void*>(1);
            EXPECT_EQ(E_NOINTERFACE, pObj->QueryInterface(iid, &pv));
            EXPECT_EQ(nullptr, pv);
        }
        EXPECT_EQ(E_POINTER, pObj->QueryInterface(IID_IUnknown, nullptr));
        EXPECT_EQ(0, g_nDestroyed);
        EXPECT_EQ(0u, pObj->Release());
        EXPECT_EQ(1, g_nDestroyed);
    }
}

TEST_F(DragObjects, ReferenceCountsDeleteOnceAtZero)
{
    for (const auto& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        g_nDestroyed = 0;
        IUnknown* pObj = kind.make(&src);  // starts with the creator's reference
        EXPECT_EQ(2u, pObj->AddRef());
        EXPECT_EQ(3u, pObj->AddRef());
        EXPECT_EQ(2u, pObj->Release());
        EXPECT_EQ(1u, pObj->Release());
        EXPECT_EQ(0, g_nDestroyed);
        EXPECT_EQ(0u, pObj->Release());
        EXPECT_EQ(1, g_nDestroyed);
    }
}

TEST_F(DragObjects, QueryGetDataChecksFormatThenMedium)
{
    struct Case {
        CLIPFORMAT cf;
        DWORD tymed;
        HRESULT textAnswer, fileAnswer;
    } cases[] = {
        {CF_TEXT, TYMED_HGLOBAL, S_OK, DV_E_FORMATETC},
        {CF_TEXT, TYMED_HGLOBAL | TYMED_ISTREAM, S_OK, DV_E_FORMATETC},
        {CF_TEXT, TYMED_ISTREAM, DV_E_TYMED, DV_E_FORMATETC},
        {CF_TEXT, TYMED_FILE, DV_E_TYMED, DV_E_FORMATETC},
        {CF_HDROP, TYMED_HGLOBAL, DV_E_FORMATETC, S_OK},
        {CF_HDROP, TYMED_ISTREAM, DV_E_FORMATETC, DV_E_TYMED},
        {CF_UNICODETEXT, TYMED_HGLOBAL, DV_E_FORMATETC, DV_E_FORMATETC},
        {CF_OEMTEXT, TYMED_HGLOBAL, DV_E_FORMATETC, DV_E_FORMATETC},
    };
    IDataObject* pText = TLSTextDataObject::Create("abc");
    IDataObject* pFile = new TLSFileDataObject(&src);
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "cf " << c.cf << " tymed " << c.tymed);
        FORMATETC f = Fmt(c.cf, c.tymed);
        EXPECT_EQ(c.textAnswer, pText->QueryGetData(&f));
        EXPECT_EQ(c.fileAnswer, pFile->QueryGetData(&f));
    }
    EXPECT_EQ(E_INVALIDARG, pText->QueryGetData(nullptr));
    pText->Release();
    pFile->Release();
}

TEST_F(DragObjects, TextGetDataHandsOverANewZeroFilledBlockPerRequest)
{
    const char* kSecret = "S3cr3t pass\xE4word";
    IDataObject* pText = TLSTextDataObject::Create(kSecret);
    ASSERT_NE(nullptr, pText);

    FORMATETC f = Fmt(CF_TEXT);
    STGMEDIUM m1 = {}, m2 = {};
    ASSERT_EQ(S_OK, pText->GetData(&f, &m1));
    ASSERT_EQ(S_OK, pText->GetData(&f, &m2));
    for (STGMEDIUM* m : {&m1, &m2}) {
        EXPECT_EQ(static_cast<DWORD>(TYMED_HGLOBAL), m->tymed);
        EXPECT_EQ(nullptr, m->pUnkForRelease);  // the receiver owns the block
        ASSERT_GE(GlobalSize(m->hGlobal), strlen(kSecret) + 11);
        const char* p = static_cast<const char*>(GlobalLock(m->hGlobal));
        EXPECT_STREQ(kSecret, p);
        for (size_t i = strlen(kSecret); i < strlen(kSecret) + 11; ++i) EXPECT_EQ(0, p[i]) << i;
        GlobalUnlock(m->hGlobal);
    }
    EXPECT_NE(m1.hGlobal, m2.hGlobal);
    // The blocks outlive the object: they belong to the receiver.
    EXPECT_EQ(0u, pText->Release());
    EXPECT_STREQ(kSecret, static_cast<const char*>(GlobalLock(m1.hGlobal)));
    GlobalUnlock(m1.hGlobal);
    ReleaseStgMedium(&m1);
    ReleaseStgMedium(&m2);
}

TEST_F(DragObjects, GetDataRefusesWrongFormatsAndMedia)
{
    IDataObject* pText = TLSTextDataObject::Create("abc");
    IDataObject* pFile = new TLSFileDataObject(&src);
    ASSERT_TRUE(src.AddFile("a.txt", "x"));
    src.SetDropping(true);  // even during a drop

    struct Case {
        IDataObject* obj;
        CLIPFORMAT cf;
        DWORD tymed;
    } cases[] = {{pText, CF_HDROP, TYMED_HGLOBAL}, {pText, CF_TEXT, TYMED_ISTREAM},
                 {pFile, CF_TEXT, TYMED_HGLOBAL},  {pFile, CF_HDROP, TYMED_ISTREAM},
                 {pText, CF_UNICODETEXT, TYMED_HGLOBAL}};
    for (const auto& c : cases) {
        FORMATETC f = Fmt(c.cf, c.tymed);
        STGMEDIUM m = {};
        EXPECT_EQ(DV_E_FORMATETC, c.obj->GetData(&f, &m)) << c.cf << " " << c.tymed;
        EXPECT_EQ(nullptr, m.hGlobal);
    }
    FORMATETC f = Fmt(CF_TEXT);
    EXPECT_EQ(E_INVALIDARG, pText->GetData(&f, nullptr));
    EXPECT_TRUE(sink.creates.empty());  // a refused request writes nothing
    pText->Release();
    pFile->Release();
}

TEST_F(DragObjects, OperationsNotOfferedAnswerNotImplemented)
{
    for (IDataObject* p : {static_cast<IDataObject*>(TLSTextDataObject::Create("x")),
                           static_cast<IDataObject*>(new TLSFileDataObject(&src))}) {
        FORMATETC f = Fmt(CF_TEXT), out = {};
        STGMEDIUM m = {};
        DWORD conn = 0;
        IEnumSTATDATA* pStat = nullptr;
        EXPECT_EQ(E_NOTIMPL, p->GetDataHere(&f, &m));
        EXPECT_EQ(E_NOTIMPL, p->GetCanonicalFormatEtc(&f, &out));
        EXPECT_EQ(E_NOTIMPL, p->SetData(&f, &m, FALSE));
        EXPECT_EQ(E_NOTIMPL, p->DAdvise(&f, 0, nullptr, &conn));
        EXPECT_EQ(E_NOTIMPL, p->DUnadvise(0));
        EXPECT_EQ(E_NOTIMPL, p->EnumDAdvise(&pStat));
        p->Release();
    }
}

TEST_F(DragObjects, EnumFormatEtcGivesAnEnumeratorOfTheOwnFormatForGetOnly)
{
    struct Case {
        IDataObject* obj;
        CLIPFORMAT cf;
    } cases[] = {{TLSTextDataObject::Create("x"), CF_TEXT}, {new TLSFileDataObject(&src), CF_HDROP}};
    for (const auto& c : cases) {
        IEnumFORMATETC* pEnum = reinterpret_cast<IEnumFORMATETC*>(1);
        EXPECT_EQ(E_NOTIMPL, c.obj->EnumFormatEtc(DATADIR_SET, &pEnum));
        EXPECT_EQ(nullptr, pEnum);
        EXPECT_EQ(E_POINTER, c.obj->EnumFormatEtc(DATADIR_GET, nullptr));

        ASSERT_EQ(S_OK, c.obj->EnumFormatEtc(DATADIR_GET, &pEnum));
        ASSERT_NE(nullptr, pEnum);
        FORMATETC f[2] = {};
        ULONG n = 0;
        EXPECT_EQ(S_OK, pEnum->Next(1, f, &n));
        EXPECT_EQ(1u, n);
        EXPECT_EQ(c.cf, f[0].cfFormat);
        EXPECT_EQ(S_OK, c.obj->QueryGetData(&f[0]));  // what it lists, it gives
        EXPECT_EQ(0u, pEnum->Release());                // one reference, the caller's
        c.obj->Release();
    }
}

// The enumerator through a table of steps: operation, argument, answer,
// number fetched (Next) and position afterwards.
TEST(DragEnum, NextSkipResetCloneTable)
{
    enum Op { kNext, kSkip, kReset, kCloneNext };
    struct Step {
        Op op;
        ULONG arg;
        HRESULT answer;
        ULONG fetched;
        ULONG position;
    };
    struct Script {
        const char* name;
        std::vector<Step> steps;
    } scripts[] = {
        {"fresh: once, then nothing", {{kNext, 1, S_OK, 1, 1}, {kNext, 1, S_FALSE, 0, 1}}},
        {"count 2: the format and S_FALSE", {{kNext, 2, S_FALSE, 1, 1}, {kNext, 2, S_FALSE, 0, 1}}},
        {"count 0: nothing", {{kNext, 0, S_FALSE, 0, 0}, {kNext, 1, S_OK, 1, 1}}},
        {"reset: again", {{kNext, 1, S_OK, 1, 1}, {kReset, 0, S_OK, 0, 0}, {kNext, 1, S_OK, 1, 1}}},
        {"skip 1: past it", {{kSkip, 1, S_OK, 0, 1}, {kNext, 1, S_FALSE, 0, 1}}},
        {"skip 0: stays", {{kSkip, 0, S_OK, 0, 0}, {kNext, 1, S_OK, 1, 1}}},
        {"skip 2: beyond", {{kSkip, 2, S_FALSE, 0, 2}, {kNext, 1, S_FALSE, 0, 2}, {kReset, 0, S_OK, 0, 0}}},
        {"skip huge: never wraps", {{kSkip, 1, S_OK, 0, 1}, {kSkip, 0xFFFFFFFFu, S_FALSE, 0, 0xFFFFFFFFu},
                                    {kSkip, 5, S_FALSE, 0, 0xFFFFFFFFu}, {kNext, 1, S_FALSE, 0, 0xFFFFFFFFu}}},
        {"clone of fresh", {{kCloneNext, 1, S_OK, 1, 0}}},
        {"clone after next", {{kNext, 1, S_OK, 1, 1}, {kCloneNext, 1, S_FALSE, 0, 1}}},
    };
    for (const auto& script : scripts) {
        SCOPED_TRACE(script.name);
        g_nDestroyed = 0;
        TLSEnum* pEnum = new ProbeEnum(CF_HDROP);
        for (size_t i = 0; i < script.steps.size(); ++i) {
            const Step& s = script.steps[i];
            SCOPED_TRACE(::testing::Message() << "step " << i);
            FORMATETC f[2] = {};
            f[1].cfFormat = 0x7777;
            ULONG fetched = 99;
            HRESULT hr = E_FAIL;
            switch (s.op) {
            case kNext: hr = pEnum->Next(s.arg, f, &fetched); break;
            case kSkip: hr = pEnum->Skip(s.arg); break;
            case kReset: hr = pEnum->Reset(); break;
            case kCloneNext: {
                IEnumFORMATETC* pClone = nullptr;
                ASSERT_EQ(S_OK, pEnum->Clone(&pClone));
                hr = pClone->Next(s.arg, f, &fetched);
                EXPECT_EQ(0u, pClone->Release());  // the clone held one reference, the caller's
                break;
            }
            }
            EXPECT_EQ(s.answer, hr);
            if (s.op == kNext || s.op == kCloneNext) {
                EXPECT_EQ(s.fetched, fetched);
                if (s.fetched == 1) {
                    EXPECT_EQ(CF_HDROP, f[0].cfFormat);
                    EXPECT_EQ(nullptr, f[0].ptd);
                    EXPECT_EQ(static_cast<DWORD>(DVASPECT_CONTENT), f[0].dwAspect);
                    EXPECT_EQ(-1, f[0].lindex);
                    EXPECT_EQ(static_cast<DWORD>(TYMED_HGLOBAL), f[0].tymed);
                }
                EXPECT_EQ(0x7777, f[1].cfFormat);  // never more than one element written
            }
            EXPECT_EQ(s.position, pEnum->Position());
        }
        // Next with no count pointer, as a caller asking for one may do.
        pEnum->Reset();
        FORMATETC f = {};
        EXPECT_EQ(S_OK, pEnum->Next(1, &f, nullptr));
        EXPECT_EQ(E_POINTER, pEnum->Clone(nullptr));
        EXPECT_EQ(0u, pEnum->Release());
        EXPECT_EQ(1, g_nDestroyed);
    }
}

// ---------------------------------------------------------------------------
// The file object before and during a drop
// ---------------------------------------------------------------------------

class FileObject : public DragObjects {
protected:
    // GetData of CF_HDROP; the names listed, or an empty list with the answer.
    HRESULT Get(IDataObject* p, std::vector<std::string>* names, SIZE_T* pcb = nullptr)
    {
        FORMATETC f = Fmt(CF_HDROP);
        STGMEDIUM m = {};
        HRESULT hr = p->GetData(&f, &m);
        names->clear();
        if (hr == S_OK) {
            EXPECT_EQ(static_cast<DWORD>(TYMED_HGLOBAL), m.tymed);
            EXPECT_EQ(nullptr, m.pUnkForRelease);
            const DROPFILES* pHeader = static_cast<const DROPFILES*>(GlobalLock(m.hGlobal));
            EXPECT_EQ(20u, pHeader->pFiles);
            EXPECT_EQ(0, pHeader->pt.x);
            EXPECT_EQ(0, pHeader->pt.y);
            EXPECT_FALSE(pHeader->fNC);
            EXPECT_FALSE(pHeader->fWide);
            GlobalUnlock(m.hGlobal);
            if (pcb) *pcb = GlobalSize(m.hGlobal);
            *names = ReadHDrop(m.hGlobal);
            ReleaseStgMedium(&m);
        }
        return hr;
    }
};

TEST_F(FileObject, WritesFilesOnlyDuringTheDropAndOncePerDrop)
{
    TempDir dir;
    sink.bWriteFiles = true;
    const std::string a = dir.File("first.txt"), b = dir.File("second.txt");
    ASSERT_TRUE(src.AddFile(a.c_str(), "alpha"));
    ASSERT_TRUE(src.AddFile(b.c_str(), "beta"));
    IDataObject* pFile = new TLSFileDataObject(&src);
    std::vector<std::string> names;

    // The pointer only passes over a target: nothing, and no file.
    EXPECT_EQ(DV_E_FORMATETC, Get(pFile, &names));
    EXPECT_TRUE(names.empty());
    EXPECT_TRUE(sink.creates.empty());
    EXPECT_FALSE(FileExists(a));
    EXPECT_FALSE(src.GetFilesPrepared());

    // Released over the target: written once, listed.
    src.SetDropping(true);
    SIZE_T cb = 0;
    ASSERT_EQ(S_OK, Get(pFile, &names, &cb));
    EXPECT_EQ((std::vector<std::string>{a, b}), names);
    EXPECT_GE(cb, 2u * 256 + 21);
    EXPECT_TRUE(src.GetFilesPrepared());
    EXPECT_EQ(ReadFileBytes(a), "alpha");
    EXPECT_EQ(ReadFileBytes(b), "beta");
    ASSERT_EQ(2u, sink.creates.size());
    EXPECT_EQ(0, sink.creates[0].index);
    EXPECT_EQ(2, sink.creates[0].count);
    EXPECT_EQ("alpha", sink.creates[0].content);
    EXPECT_EQ(1, sink.creates[1].index);

    // A second request of the same drop lists them again, writes nothing.
    ASSERT_EQ(S_OK, Get(pFile, &names));
    EXPECT_EQ((std::vector<std::string>{a, b}), names);
    EXPECT_EQ(2u, sink.creates.size());
    pFile->Release();
}

TEST_F(FileObject, RepeatedNameIsNotifiedOnceAndListedOnceAtItsFirstPlace)
{
    ASSERT_TRUE(src.AddFile("C:\\drop\\Report.txt", "1"));
    ASSERT_TRUE(src.AddFile("C:\\drop\\other.txt", "2"));
    ASSERT_TRUE(src.AddFile("c:\\DROP\\report.TXT", "3"));
    ASSERT_TRUE(src.AddFile("C:\\drop\\REPORT.txt", "4"));
    ASSERT_TRUE(src.AddFile("C:\\drop\\report-txt", "5"));  // not the same name
    IDataObject* pFile = new TLSFileDataObject(&src);
    src.SetDropping(true);
    std::vector<std::string> names;
    ASSERT_EQ(S_OK, Get(pFile, &names));

    EXPECT_EQ((std::vector<std::string>{"C:\\drop\\Report.txt", "C:\\drop\\other.txt", "C:\\drop\\report-txt"}),
              names);
    EXPECT_EQ((std::vector<std::string>{
                  "duplicate c:\\DROP\\report.TXT",
                  "duplicate C:\\drop\\REPORT.txt",
                  "create C:\\drop\\Report.txt 0/5",
                  "create C:\\drop\\other.txt 1/5",
                  "create c:\\DROP\\report.TXT 2/5",
                  "create C:\\drop\\REPORT.txt 3/5",
                  "create C:\\drop\\report-txt 4/5",
              }),
              sink.events);
    auto& items = *src.GetFileList();
    EXPECT_FALSE(items[0]->bSkip);
    EXPECT_TRUE(items[2]->bSkip);
    EXPECT_TRUE(items[3]->bSkip);
    pFile->Release();
}

TEST_F(FileObject, EmptyNamesTakePartButDoNotCutTheList)
{
    ASSERT_TRUE(src.AddFile("a.txt", "1"));
    ASSERT_TRUE(src.AddFile("", "2"));
    ASSERT_TRUE(src.AddFile("b.txt", "3"));
    IDataObject* pFile = new TLSFileDataObject(&src);
    src.SetDropping(true);
    std::vector<std::string> names;
    ASSERT_EQ(S_OK, Get(pFile, &names));
    // An empty entry would end the shell's list early and hide b.txt.
    EXPECT_EQ((std::vector<std::string>{"a.txt", "b.txt"}), names);
    ASSERT_EQ(3u, sink.creates.size());
    EXPECT_EQ("", sink.creates[1].name);
    EXPECT_EQ(1, sink.creates[1].index);
    pFile->Release();
}

TEST_F(FileObject, NewDropOfTheSameItemsNotifiesAndWritesAgain)
{
    ASSERT_TRUE(src.AddFile("x.txt", "1"));
    ASSERT_TRUE(src.AddFile("X.TXT", "2"));
    for (int drop = 0; drop < 2; ++drop) {
        IDataObject* pFile = new TLSFileDataObject(&src);
        src.SetFilesPrepared(false);  // as each drag starts
        src.SetDropping(true);
        std::vector<std::string> names;
        ASSERT_EQ(S_OK, Get(pFile, &names));
        EXPECT_EQ((std::vector<std::string>{"x.txt"}), names);
        pFile->Release();
    }
    EXPECT_EQ(2u, sink.duplicates.size());
    EXPECT_EQ(4u, sink.creates.size());
}

// A drag source whose file writing refuses one item.
class RefusingDragSrc : public TLSDragSrc {
public:
    RefusingDragSrc(TLSOwner* pOwner, TLSDragSink* pSink, int nRefuse)
        : TLSDragSrc(pOwner, pSink, nullptr), m_nRefuse(nRefuse) {}
    bool CreateDropFile(const char* pszName, const char* pszContent, int nIndex, int nCount) override
    {
        TLSDragSrc::CreateDropFile(pszName, pszContent, nIndex, nCount);
        return nIndex != m_nRefuse;
    }
    bool NotifyDuplicateFile(const char* pszName) override
    {
        TLSDragSrc::NotifyDuplicateFile(pszName);
        return !m_bRefuseDuplicates;
    }
    bool m_bRefuseDuplicates = false;

private:
    int m_nRefuse;
};

TEST(FileObjectFailure, RefusedItemEndsTheWritingAndDropsItAndLaterItems)
{
    RecordingSink sink;
    RefusingDragSrc src(nullptr, &sink, 1);
    for (const char* n : {"a.txt", "b.txt", "c.txt"}) ASSERT_TRUE(src.AddFile(n, n));
    IDataObject* pFile = new TLSFileDataObject(&src);
    src.SetDropping(true);
    FORMATETC f = Fmt(CF_HDROP);
    STGMEDIUM m = {};
    ASSERT_EQ(S_OK, pFile->GetData(&f, &m));
    EXPECT_EQ((std::vector<std::string>{"a.txt"}), ReadHDrop(m.hGlobal));
    ReleaseStgMedium(&m);
    EXPECT_EQ(1, src.FileCount());
    EXPECT_EQ(2u, sink.creates.size());  // c.txt is never written
    EXPECT_TRUE(src.GetFilesPrepared());
    pFile->Release();
}

TEST(FileObjectFailure, RefusedDuplicateNotificationSkipsWritingThatItem)
{
    RecordingSink sink;
    RefusingDragSrc src(nullptr, &sink, -1);
    src.m_bRefuseDuplicates = true;
    for (const char* n : {"a.txt", "A.txt", "b.txt"}) ASSERT_TRUE(src.AddFile(n, n));
    IDataObject* pFile = new TLSFileDataObject(&src);
    src.SetDropping(true);
    FORMATETC f = Fmt(CF_HDROP);
    STGMEDIUM m = {};
    ASSERT_EQ(S_OK, pFile->GetData(&f, &m));
    EXPECT_EQ((std::vector<std::string>{"a.txt", "b.txt"}), ReadHDrop(m.hGlobal));
    ReleaseStgMedium(&m);
    EXPECT_EQ((std::vector<std::string>{"duplicate A.txt", "create a.txt 0/3", "create b.txt 2/3"}), sink.events);
    EXPECT_EQ(3, src.FileCount());
    pFile->Release();
}

// A drag source whose file writing throws (an override gone wrong).
class ThrowingDragSrc : public TLSDragSrc {
public:
    ThrowingDragSrc() : TLSDragSrc(nullptr, nullptr, nullptr) {}
    bool CreateDropFile(const char*, const char*, int, int) override { throw std::bad_alloc(); }
};

TEST(FileObjectFailure, ExceptionWhileWritingIsAnsweredNotThrownThroughThePlatform)
{
    ThrowingDragSrc src;
    ASSERT_TRUE(src.AddFile("a.txt", "x"));
    IDataObject* pFile = new TLSFileDataObject(&src);
    src.SetDropping(true);
    FORMATETC f = Fmt(CF_HDROP);
    STGMEDIUM m = {};
    EXPECT_EQ(E_OUTOFMEMORY, pFile->GetData(&f, &m));
    EXPECT_EQ(nullptr, m.hGlobal);
    EXPECT_FALSE(src.GetFilesPrepared());
    pFile->Release();
}

// ---------------------------------------------------------------------------
// The drop source's decisions
// ---------------------------------------------------------------------------

TEST_F(DragObjects, GiveFeedbackKeepsTheEffectAndUsesDefaultCursors)
{
    TLSDropSource* pSource = new TLSDropSource(&src);
    for (DWORD e : {DROPEFFECT_NONE, DROPEFFECT_COPY, DROPEFFECT_MOVE, DROPEFFECT_COPY | DROPEFFECT_MOVE}) {
        EXPECT_EQ(DRAGDROP_S_USEDEFAULTCURSORS, pSource->GiveFeedback(e));
        EXPECT_EQ(e, pSource->LastEffect());
    }
    pSource->Release();
}

TEST_F(DragObjects, QueryContinueDragTable)
{
    struct Case {
        const char* name;
        TLSDropEffect allowed;
        DWORD lastEffect;
        BOOL escape;
        DWORD keys;
        HRESULT answer;
        bool dropping;
        bool eventFired;
    } cases[] = {
        {"escape cancels", lsCopy, DROPEFFECT_COPY, TRUE, MK_LBUTTON, DRAGDROP_S_CANCEL, false, false},
        {"escape after release", lsCopy, DROPEFFECT_COPY, TRUE, 0, DRAGDROP_S_CANCEL, false, false},
        {"button down goes on", lsCopy, DROPEFFECT_COPY, FALSE, MK_LBUTTON, S_OK, false, false},
        {"button and shift", lsMove, DROPEFFECT_MOVE, FALSE, MK_LBUTTON | MK_SHIFT, S_OK, false, false},
        {"release, copy shown, copy allowed", lsCopy, DROPEFFECT_COPY, FALSE, 0, DRAGDROP_S_DROP, true, true},
        {"release, move shown, move allowed", lsMove, DROPEFFECT_MOVE, FALSE, 0, DRAGDROP_S_DROP, true, true},
        {"release, move shown, copy allowed", lsCopy, DROPEFFECT_MOVE, FALSE, 0, DRAGDROP_S_DROP, true, false},
        {"release, nothing shown", lsCopy, DROPEFFECT_NONE, FALSE, 0, DRAGDROP_S_DROP, true, false},
        {"release with the right button", lsCopy, DROPEFFECT_COPY, FALSE, MK_RBUTTON, DRAGDROP_S_DROP, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int nFired = 0;
        TObject* pSender = nullptr;
        src.OnDropping = [&](TObject* Sender) {
            ++nFired;
            pSender = Sender;
            EXPECT_FALSE(src.GetDropping());  // the event comes before the drop is carried out
        };
        src.SetDropEffect(c.allowed);
        src.SetDropping(true);  // a stale flag is cleared by every question
        TLSDropSource* pSource = new TLSDropSource(&src);
        pSource->GiveFeedback(c.lastEffect);
        EXPECT_EQ(c.answer, pSource->QueryContinueDrag(c.escape, c.keys));
        EXPECT_EQ(c.dropping, src.GetDropping());
        EXPECT_EQ(c.eventFired ? 1 : 0, nFired);
        if (c.eventFired) {
            EXPECT_EQ(static_cast<TObject*>(&src), pSender);
        }
        pSource->Release();
    }
    // A handler that throws does not stop the drop (nor unwind through DoDragDrop).
    src.OnDropping = [](TObject*) { throw std::runtime_error("handler failed"); };
    {
        TLSDropSource* pThrowing = new TLSDropSource(&src);
        src.SetDropEffect(lsCopy);
        pThrowing->GiveFeedback(DROPEFFECT_COPY);
        EXPECT_EQ(DRAGDROP_S_DROP, pThrowing->QueryContinueDrag(FALSE, 0));
        EXPECT_TRUE(src.GetDropping());
        pThrowing->Release();
    }
    // Without an event assigned the drop still happens.
    src.OnDropping = nullptr;
    TLSDropSource* pSource = new TLSDropSource(&src);
    src.SetDropEffect(lsCopy);
    pSource->GiveFeedback(DROPEFFECT_COPY);
    EXPECT_EQ(DRAGDROP_S_DROP, pSource->QueryContinueDrag(FALSE, 0));
    EXPECT_TRUE(src.GetDropping());
    pSource->Release();
}

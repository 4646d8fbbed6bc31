#include "Common/VQFileIO.h"
#include "Common/VQString.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

typedef std::vector<unsigned char> Bytes;

// One typed value of a file: how to write it, how to read it back and what
// it must look like on disk.
struct Field {
    const char* name;
    std::function<bool(CFileIO&)> write;
    // Reads the field; with expectOk the value must come back, otherwise the
    // read must fail and leave the value zero or empty.
    std::function<bool(CFileIO&, bool expectOk)> readAndCheck;
    Bytes bytes;
};

// Every value is non-zero, so a failed read that does not zero its output is
// caught.
template <class T>
Field MakeField(const char* name, T value, Bytes bytes)
{
    return {name, [value](CFileIO& f) { return f.Write(value); },
            [value](CFileIO& f, bool expectOk) {
                T read = value;
                const bool ok = f.Read(read);
                return ok == expectOk && (ok ? read == value : read == T());
            },
            bytes};
}

std::vector<Field> AllTypes()
{
    static const unsigned char raw[3] = {0x01, 0x02, 0x03};
    return {
        MakeField("bool", true, {0x01}),
        MakeField("char", 'V', {0x56}),
        MakeField("float", -1.5f, {0x00, 0x00, 0xC0, 0xBF}),
        MakeField("uint32", uint32_t(0x01234567), {0x67, 0x45, 0x23, 0x01}),
        MakeField("int32", int32_t(-2), {0xFE, 0xFF, 0xFF, 0xFF}),
        MakeField("uint16", uint16_t(0xBEEF), {0xEF, 0xBE}),
        MakeField("int16", int16_t(-300), {0xD4, 0xFE}),
        MakeField("string", CVQString("EOF"), {0x03, 0x00, 0x00, 0x00, 'E', 'O', 'F'}),
        {"raw", [](CFileIO& f) { return f.Write(raw, 3); },
         [](CFileIO& f, bool expectOk) {
             unsigned char read[3] = {9, 9, 9};
             const bool ok = f.Read(read, 3);
             const unsigned char zero[3] = {0, 0, 0};
             return ok == expectOk && std::memcmp(read, ok ? raw : zero, 3) == 0;
         },
         {0x01, 0x02, 0x03}},
    };
}

Bytes Concatenated(const std::vector<Field>& fields)
{
    Bytes all;
    for (const Field& field : fields)
        all.insert(all.end(), field.bytes.begin(), field.bytes.end());
    return all;
}

bool WriteFile(const std::string& path, const std::vector<Field>& fields)
{
    CFileIO file;
    if (!file.Open(path.c_str(), CFileIO::modeWrite))
        return false;
    for (const Field& field : fields)
        if (!field.write(file))
            return false;
    return file.Close();
}

} // namespace

TEST(FileIO, EveryTypeIsWrittenLittleEndianAndReadsBack)
{
    TempDir dir;
    const std::string path = dir.File("all.bin");
    const std::vector<Field> fields = AllTypes();
    ASSERT_TRUE(WriteFile(path, fields));
    EXPECT_EQ(TempDir::ReadAll(path), Concatenated(fields));

    CFileIO file;
    ASSERT_TRUE(file.Open(path.c_str(), CFileIO::modeRead));
    for (const Field& field : fields)
        EXPECT_TRUE(field.readAndCheck(file, true)) << field.name;
    EXPECT_TRUE(file.IsGood());
    char past = 'x';
    EXPECT_FALSE(file.Read(past));
    EXPECT_EQ(past, 0);
    EXPECT_TRUE(file.Close());
}

// Every possible cut of a valid file: the fields before the cut read back,
// the one the cut runs through and all after it fail with zero values; the
// bytes left count down to the cut, and are none after a failed read.
TEST(FileIO, TruncatedFileFailsFromTheCutOnAndNeverReadsStrayBytes)
{
    TempDir dir;
    const std::string path = dir.File("cut.bin");
    const std::vector<Field> fields = AllTypes();
    const Bytes full = Concatenated(fields);
    for (size_t cut = 0; cut < full.size(); ++cut) {
        TempDir::WriteAll(path, Bytes(full.begin(), full.begin() + static_cast<long>(cut)));
        CFileIO file;
        ASSERT_TRUE(file.Open(path.c_str(), CFileIO::modeRead));
        size_t end = 0;
        for (const Field& field : fields) {
            EXPECT_EQ(file.GetBytesLeft(), end <= cut ? int64_t(cut - end) : 0) << field.name << " cut at " << cut;
            end += field.bytes.size();
            EXPECT_TRUE(field.readAndCheck(file, end <= cut)) << field.name << " cut at " << cut;
        }
        EXPECT_FALSE(file.IsGood());
        EXPECT_EQ(file.GetBytesLeft(), 0);
    }
}

TEST(FileIO, StringLengthIsBoundedBeforeAnythingIsAllocated)
{
    struct Case {
        int32_t storedLength;
        size_t bytesPresent;
        int32_t maxLength;
        bool ok;
    };
    const Case cases[] = {
        {0x7FFFFFFF, 3, 65536, false},  // corrupt count, tiny file
        {-1, 3, 65536, false},
        {70000, 70000, 65536, false},   // bytes are there, but over the bound
        {5, 5, 4, false},
        {4, 4, 4, true},
        {10, 3, 65536, false},          // count fine, body cut off
    };
    TempDir dir;
    const std::string path = dir.File("str.bin");
    for (const Case& c : cases) {
        Bytes bytes = {static_cast<unsigned char>(c.storedLength), static_cast<unsigned char>(c.storedLength >> 8),
                       static_cast<unsigned char>(c.storedLength >> 16),
                       static_cast<unsigned char>(c.storedLength >> 24)};
        bytes.resize(4 + c.bytesPresent, 'a');
        bytes.insert(bytes.end(), {1, 0, 0, 0});  // an int32 after the string
        TempDir::WriteAll(path, bytes);

        CFileIO file;
        ASSERT_TRUE(file.Open(path.c_str(), CFileIO::modeRead));
        CVQString text("previous");
        EXPECT_EQ(file.Read(text, c.maxLength), c.ok) << c.storedLength;
        EXPECT_EQ(text.GetLength(), c.ok ? static_cast<size_t>(c.storedLength) : 0u);
        int32_t after = -1;
        // After a refused string the file is spoilt: nothing more is read.
        EXPECT_EQ(file.Read(after), c.ok && c.bytesPresent == static_cast<size_t>(c.storedLength));
        EXPECT_EQ(file.IsGood(), c.ok);
    }
}

// A save that fails for any reason leaves the previous file byte for byte and
// no temporary file behind.
TEST(FileIO, FailedSaveKeepsThePreviousFile)
{
    struct Case {
        const char* name;
        std::function<void(CFileIO&)> spoil;
    };
    const Case cases[] = {
        {"read on a file being written", [](CFileIO& f) { int32_t v; f.Read(v); f.Write(int32_t(5)); }},
        {"raw write with a null buffer", [](CFileIO& f) { f.Write(static_cast<const void*>(nullptr), 4); }},
        {"raw write with a negative count", [](CFileIO& f) { f.Write("abc", -1); }},
        // A real write error: the process may not grow a file past 16 bytes,
        // so the buffered bytes fail when Close flushes them.
        {"file size limit",
         [](CFileIO& f) {
             rlimit old;
             getrlimit(RLIMIT_FSIZE, &old);
             rlimit small = old;
             small.rlim_cur = 16;
             void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
             setrlimit(RLIMIT_FSIZE, &small);
             const Bytes big(100, 0x77);
             f.Write(big.data(), static_cast<int32_t>(big.size()));
             EXPECT_FALSE(f.Close());
             setrlimit(RLIMIT_FSIZE, &old);
             std::signal(SIGXFSZ, previous);
         }},
    };
    TempDir dir;
    const std::string path = dir.File("terrain.bin");
    const std::vector<Field> previous = AllTypes();
    ASSERT_TRUE(WriteFile(path, previous));
    const Bytes before = TempDir::ReadAll(path);
    for (const Case& c : cases) {
        CFileIO file;
        ASSERT_TRUE(file.Open(path.c_str(), CFileIO::modeWrite)) << c.name;
        EXPECT_TRUE(file.Write(int32_t(1)));
        c.spoil(file);
        EXPECT_FALSE(file.IsGood()) << c.name;
        EXPECT_FALSE(file.Close()) << c.name;
        EXPECT_EQ(TempDir::ReadAll(path), before) << c.name;
        EXPECT_EQ(dir.EntryCount(), 1u) << c.name;
    }
}

TEST(FileIO, CommitOverADirectoryFailsAndCleansUp)
{
    TempDir dir;
    const std::string sub = dir.File("sub");
    std::filesystem::create_directory(sub);
    CFileIO file;
    ASSERT_TRUE(file.Open(sub.c_str(), CFileIO::modeWrite));
    EXPECT_TRUE(file.Write(1.0f));
    EXPECT_FALSE(file.Close());
    EXPECT_TRUE(std::filesystem::is_directory(sub));
    EXPECT_EQ(dir.EntryCount(), 1u);
}

// Only Close commits; a write left open (an early return between Open and
// Close) is discarded. A commit keeps the replaced file's permission bits,
// and a new file gets those of any new file.
TEST(FileIO, OnlyCloseCommitsAndAReplacedFileKeepsItsPermissions)
{
    TempDir dir;
    const std::string path = dir.File("terrain.bin"), fresh = dir.File("fresh.bin");
    auto mode = [](const std::string& p) {
        struct stat info = {};
        ::stat(p.c_str(), &info);
        return info.st_mode & 07777;
    };
    TempDir::WriteAll(dir.File("reference.bin"), {0});  // permissions of any new file
    TempDir::WriteAll(path, {1, 2, 3});
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    {
        CFileIO file;
        ASSERT_TRUE(file.Open(path.c_str(), CFileIO::modeWrite));
        EXPECT_TRUE(file.Write(uint16_t(0x0102)));
    }
    CFileIO file;
    ASSERT_TRUE(file.Open(path.c_str(), CFileIO::modeWrite));
    EXPECT_TRUE(file.Write(uint16_t(0x0102)));
    ASSERT_TRUE(file.Open(fresh.c_str(), CFileIO::modeWrite));  // drops the write to `path`
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(TempDir::ReadAll(path), (Bytes{1, 2, 3}));
    EXPECT_EQ(mode(fresh), mode(dir.File("reference.bin")));

    ASSERT_TRUE(file.Open(path.c_str(), CFileIO::modeWrite));
    EXPECT_TRUE(file.Write(uint16_t(0x0102)));
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(TempDir::ReadAll(path), (Bytes{0x02, 0x01}));
    EXPECT_EQ(mode(path), 0600u);
    EXPECT_EQ(dir.EntryCount(), 3u);  // no temporary file left behind
}

TEST(FileIO, OpenRefusesWhatItCannotServe)
{
    TempDir dir;
    const std::string path = dir.File("x.bin");
    TempDir::WriteAll(path, {1, 2, 3, 4});
    CFileIO file;
    EXPECT_FALSE(file.Open(dir.File("missing").c_str(), CFileIO::modeRead));
    EXPECT_FALSE(file.Open(dir.Path().c_str(), CFileIO::modeRead));
    EXPECT_FALSE(file.Open(dir.File("no/such/dir.bin").c_str(), CFileIO::modeWrite));
    EXPECT_FALSE(file.Open(path.c_str(), 3));
    EXPECT_FALSE(file.Open(nullptr, CFileIO::modeRead));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(file.Close());

    ASSERT_TRUE(file.Open(path.c_str(), CFileIO::modeRead));
    EXPECT_FALSE(file.Write(int32_t(9)));  // read-only
    int32_t value = 7;
    EXPECT_FALSE(file.Read(value));        // spoilt by the refused write
    EXPECT_EQ(value, 0);
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(TempDir::ReadAll(path), (Bytes{1, 2, 3, 4}));
}

TEST(FileIO, FileExistsOnlyForRegularFiles)
{
    TempDir dir;
    TempDir::WriteAll(dir.File("a.terrain"), {0});
    struct Case {
        std::string path;
        bool exists;
    };
    const Case cases[] = {
        {dir.File("a.terrain"), true},
        {dir.File("b.terrain"), false},
        {dir.Path(), false},
        {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CFileIO::FileExists(c.path.c_str()), c.exists) << c.path;
    EXPECT_FALSE(CFileIO::FileExists(nullptr));
}

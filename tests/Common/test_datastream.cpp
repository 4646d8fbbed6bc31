#include "Common/VQDataStream.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

template <class T>
void Put(CVQDataStream& s, T value) { s.Put(&value, sizeof value); }

template <class T>
T Get(CVQDataStream& s, bool* ok = nullptr)
{
    T value;
    const bool got = s.Get(&value, sizeof value);
    if (ok)
        *ok = got;
    return value;
}

// The shape a versioned object and its versioned base part take in a stream:
//   section 3 { int32 a, section 7 { float b, int16 c }, int32 d }, int32 e
CVQDataStream StoreNested()
{
    CVQDataStream s;
    s.SerializeBegin(3);
    Put<int32_t>(s, 11);
    s.SerializeBegin(7);
    Put<float>(s, 2.5f);
    Put<int16_t>(s, -4);
    s.SerializeEnd();
    Put<int32_t>(s, 44);
    s.SerializeEnd();
    Put<int32_t>(s, 55);
    return s;
}

CVQDataStream Loader(const CVQDataStream& stored, size_t cut = SIZE_MAX)
{
    const std::vector<unsigned char>& bytes = stored.GetBytes();
    return CVQDataStream(bytes.data(), std::min(cut, bytes.size()));
}

} // namespace

TEST(DataStream, NestedVersionedSectionsRoundTrip)
{
    CVQDataStream stored = StoreNested();
    EXPECT_EQ(stored.GetVersion(), -1);
    CVQDataStream s = Loader(stored);
    EXPECT_FALSE(s.IsStoring());
    s.SerializeBegin(-1);
    EXPECT_EQ(s.GetVersion(), 3);
    EXPECT_EQ(Get<int32_t>(s), 11);
    s.SerializeBegin(-1);
    EXPECT_EQ(s.GetVersion(), 7);
    EXPECT_EQ(Get<float>(s), 2.5f);
    EXPECT_EQ(Get<int16_t>(s), -4);
    s.SerializeEnd();
    EXPECT_EQ(s.GetVersion(), 3);
    EXPECT_EQ(Get<int32_t>(s), 44);
    s.SerializeEnd();
    EXPECT_EQ(s.GetVersion(), -1);
    EXPECT_EQ(Get<int32_t>(s), 55);
    bool ok = true;
    EXPECT_EQ(Get<int32_t>(s, &ok), 0);
    EXPECT_FALSE(ok);
}

TEST(DataStream, SectionHeaderIsVersionAndBodySizeLittleEndian)
{
    CVQDataStream s;
    s.SerializeBegin(257);
    const unsigned char body[3] = {7, 8, 9};
    s.Put(body, 3);
    s.SerializeEnd();
    const std::vector<unsigned char> expected = {0x01, 0x01, 0, 0, 3, 0, 0, 0, 7, 8, 9};
    EXPECT_EQ(s.GetBytes(), expected);
}

// An older reader that knows fewer fields, and a newer one that expects more,
// both stay in step with the bytes after the section.
TEST(DataStream, SectionsFenceReadersThatReadLessOrMore)
{
    CVQDataStream stored = StoreNested();

    CVQDataStream older = Loader(stored);
    older.SerializeBegin(-1);
    EXPECT_EQ(Get<int32_t>(older), 11);
    older.SerializeEnd();  // skips the inner section and d
    EXPECT_EQ(Get<int32_t>(older), 55);

    CVQDataStream newer = Loader(stored);
    newer.SerializeBegin(-1);
    Get<int32_t>(newer);
    newer.SerializeBegin(-1);
    Get<float>(newer);
    Get<int16_t>(newer);
    bool ok = true;
    EXPECT_EQ(Get<double>(newer, &ok), 0.0);  // not in the stored section
    EXPECT_FALSE(ok);
    newer.SerializeEnd();
    EXPECT_EQ(Get<int32_t>(newer), 44);
    newer.SerializeEnd();
    EXPECT_EQ(Get<int32_t>(newer), 55);
}

// Every cut of the stream: the full reader runs to the end, every value is
// either right or zero, and once one value is missing none after it in the
// same section is invented.
TEST(DataStream, TruncatedStreamReadsZerosAndNeverOverruns)
{
    CVQDataStream stored = StoreNested();
    const size_t total = stored.GetBytes().size();
    for (size_t cut = 0; cut <= total; ++cut) {
        CVQDataStream s = Loader(stored, cut);
        s.SerializeBegin(-1);
        const int outerVersion = s.GetVersion();
        const int32_t a = Get<int32_t>(s);
        s.SerializeBegin(-1);
        const int innerVersion = s.GetVersion();
        const float b = Get<float>(s);
        const int16_t c = Get<int16_t>(s);
        s.SerializeEnd();
        const int32_t d = Get<int32_t>(s);
        s.SerializeEnd();
        const int32_t e = Get<int32_t>(s);
        EXPECT_TRUE(outerVersion == 3 || outerVersion == -1) << cut;
        EXPECT_TRUE(innerVersion == 7 || innerVersion == -1) << cut;
        EXPECT_TRUE(a == 11 || a == 0) << cut;
        EXPECT_TRUE(b == 2.5f || (b == 0.0f && c == 0)) << cut;
        EXPECT_TRUE(c == -4 || c == 0) << cut;
        EXPECT_TRUE(d == 44 || d == 0) << cut;
        EXPECT_EQ(e, cut == total ? 55 : 0) << cut;
    }
}

TEST(DataStream, WrongDirectionAndUnbalancedEndAreHarmless)
{
    CVQDataStream storing;
    int32_t value = 5;
    EXPECT_FALSE(storing.Get(&value, sizeof value));
    EXPECT_EQ(value, 0);
    storing.SerializeEnd();  // nothing open
    EXPECT_TRUE(storing.GetBytes().empty());

    const unsigned char bytes[2] = {1, 2};
    CVQDataStream loading(bytes, 2);
    EXPECT_FALSE(loading.Put(&value, sizeof value));
    loading.SerializeEnd();
    uint16_t both = 0;
    EXPECT_TRUE(loading.Get(&both, 2));
    CVQDataStream empty(nullptr, 10);
    EXPECT_FALSE(empty.Get(&both, 2));
}

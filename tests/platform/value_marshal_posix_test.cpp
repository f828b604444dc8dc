#include <capnp/message.h>
#include <capnp/serialize.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/posix/value_marshal.h"

namespace {

using com_posix::kBadStubData;

SAFEARRAY* Patterned(VARTYPE vt, LONG lower, ULONG count) {
  SAFEARRAYBOUND bound{count, lower};
  SAFEARRAY* array = SafeArrayCreate(vt, 1, &bound);
  auto* bytes = static_cast<uint8_t*>(array->pvData);
  for (size_t i = 0; i < size_t{count} * array->cbElements; ++i) {
    bytes[i] = static_cast<uint8_t>(i * 7 + 1);
  }
  return array;
}

// Sends an array through a message, as the bytes on the channel, and back,
// as the two ends would. A borrowed array is read from where it lies, in
// whole words.
HRESULT CrossArray(SAFEARRAY* array, SAFEARRAY** copy, bool borrow = false) {
  capnp::MallocMessageBuilder message;
  auto root = message.initRoot<com_marshal::Array>();
  com_posix::WriteArray(array, root, borrow);
  kj::Array<capnp::word> wire = capnp::messageToFlatArray(message);
  capnp::FlatArrayMessageReader received(wire, com_posix::ReceiveOptions());
  return com_posix::ReadArray(received.getRoot<com_marshal::Array>(), copy);
}

struct ArrayCase {
  VARTYPE vt;
  LONG lower;
  ULONG count;
  bool borrow = false;
};

class ArrayCrossingTest : public testing::TestWithParam<ArrayCase> {};

TEST_P(ArrayCrossingTest, ArrivesEqualAndSeparate) {
  SAFEARRAY* array =
      Patterned(GetParam().vt, GetParam().lower, GetParam().count);
  ASSERT_NE(array, nullptr);
  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(CrossArray(array, &copy, GetParam().borrow), S_OK);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, array);
  EXPECT_NE(copy->pvData, array->pvData);
  VARTYPE vt = VT_EMPTY;
  ASSERT_EQ(SafeArrayGetVartype(copy, &vt), S_OK);
  EXPECT_EQ(vt, GetParam().vt);
  EXPECT_EQ(copy->rgsabound[0].lLbound, GetParam().lower);
  EXPECT_EQ(copy->rgsabound[0].cElements, GetParam().count);
  EXPECT_EQ(copy->cLocks, 0u);
  EXPECT_EQ(std::memcmp(copy->pvData, array->pvData,
                        size_t{GetParam().count} * array->cbElements),
            0);
  SafeArrayDestroy(copy);
  SafeArrayDestroy(array);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ArrayCrossingTest,
    testing::Values(ArrayCase{VT_UI1, 0, 1256 * 2 + 5}, ArrayCase{VT_I1, 3, 4},
                    ArrayCase{VT_UI2, 0, 7}, ArrayCase{VT_I2, -1, 2},
                    ArrayCase{VT_UI4, 0, 3}, ArrayCase{VT_I4, 100, 1},
                    ArrayCase{VT_UI1, 0, 0},
                    // Borrowed: a code image's length (not whole words), a
                    // profile's, and an array too small to be worth it.
                    ArrayCase{VT_UI1, 0, 451052, true},
                    ArrayCase{VT_UI1, 0, 251736, true},
                    ArrayCase{VT_UI2, 2, 40001, true},
                    ArrayCase{VT_UI1, 0, 100, true}));

TEST(ArrayCrossingTest, NullStaysNullAndLockedArraysCrossUnlocked) {
  SAFEARRAY* copy = reinterpret_cast<SAFEARRAY*>(1);
  ASSERT_EQ(CrossArray(nullptr, &copy), S_OK);
  EXPECT_EQ(copy, nullptr);

  SAFEARRAY* locked = Patterned(VT_UI1, 0, 4);
  SafeArrayLock(locked);
  ASSERT_EQ(CrossArray(locked, &copy), S_OK);
  EXPECT_EQ(copy->cLocks, 0u);
  SafeArrayDestroy(copy);
  // Marshalling code disposes of arrays whatever was left locked.
  com_posix::DestroyOwnedArray(locked);
}

TEST(ArrayCrossingTest, MessagesThatHoldNoMakeableArrayAreRefused) {
  capnp::MallocMessageBuilder message;
  auto value = message.initRoot<com_marshal::Array>().initValue();
  value.setVartype(VT_UI2);
  value.setElementCount(3);
  value.initElements(5);  // not three 2-byte elements
  SAFEARRAY* copy = reinterpret_cast<SAFEARRAY*>(1);
  EXPECT_EQ(com_posix::ReadArray(
                message.getRoot<com_marshal::Array>().asReader(), &copy),
            kBadStubData);
  EXPECT_EQ(copy, nullptr);

  value.setVartype(VT_BSTR);
  value.setElementCount(0);
  value.initElements(0);
  EXPECT_EQ(com_posix::ReadArray(
                message.getRoot<com_marshal::Array>().asReader(), &copy),
            kBadStubData);

  // A count far beyond the bytes that came: refused before the room for
  // 2^29 four-byte elements (2 GiB) is taken.
  value.setVartype(VT_UI4);
  value.setElementCount(0x1FFFFFFF);
  value.initElements(8);
  EXPECT_EQ(com_posix::ReadArray(
                message.getRoot<com_marshal::Array>().asReader(), &copy),
            kBadStubData);
  EXPECT_EQ(copy, nullptr);

  // Bounds that describe no array: empty at the lowest lower bound.
  value.setElementCount(0);
  value.initElements(0);
  value.setVartype(VT_UI1);
  value.setLowerBound(INT32_MIN);
  EXPECT_EQ(com_posix::ReadArray(
                message.getRoot<com_marshal::Array>().asReader(), &copy),
            kBadStubData);
  EXPECT_EQ(copy, nullptr);
}

// A message from a broken peer whose element bytes cannot be read (their
// pointer leads out of the message): the read fails, and no array is made
// and lost on the way (the leak checker of the sanitizer build sees one).
TEST(ArrayCrossingTest, UnreadableElementsMakeNoArray) {
  // Identities answer: an array of bytes whose elements point nowhere.
  alignas(capnp::word) const uint64_t wire[] = {
      0x0000000800000000ull, 0x0001000100000000ull, 0x0000000000000000ull,
      0x0001000200000000ull, 0x0000000000120001ull, 0x0000000000000006ull,
      0x0000000008000000ull, 0x0000010001000000ull, 0x0000000000000000ull};
  capnp::FlatArrayMessageReader received(
      kj::arrayPtr(reinterpret_cast<const capnp::word*>(wire),
                   sizeof wire / sizeof(capnp::word)),
      com_posix::ReceiveOptions());
  SAFEARRAY* copy = reinterpret_cast<SAFEARRAY*>(1);
  EXPECT_THROW(
      com_posix::ReadArray(
          received
              .getRoot<com_marshal::ProgrammingServer::GetIdentitiesResults>()
              .getIdentities(),
          &copy),
      kj::Exception);
}

// Sends a text through a message and back.
HRESULT CrossText(BSTR text, BSTR* copy) {
  capnp::MallocMessageBuilder message;
  auto root = message.initRoot<com_marshal::Text>();
  com_posix::WriteText(text, root);
  return com_posix::ReadText(root.asReader(), copy);
}

TEST(TextCrossingTest, KeepsUnitsAndTellsNullFromEmpty) {
  for (const char16_t* units : {u"", u"Level \u00e4\u4e2d\U0001F600"}) {
    BSTR text = SysAllocString(units);
    BSTR copy = nullptr;
    ASSERT_EQ(CrossText(text, &copy), S_OK);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::u16string(copy, SysStringLen(copy)), std::u16string(units));
    SysFreeString(copy);
    SysFreeString(text);
  }
  BSTR copy = reinterpret_cast<BSTR>(1);
  ASSERT_EQ(CrossText(nullptr, &copy), S_OK);
  EXPECT_EQ(copy, nullptr);

  capnp::MallocMessageBuilder message;
  message.initRoot<com_marshal::Text>().initUnits(3);
  EXPECT_EQ(com_posix::ReadText(message.getRoot<com_marshal::Text>().asReader(),
                                &copy),
            kBadStubData);
}

}  // namespace

// The input buffers: taking bytes out, the consumed offset and its packing, notifications.
#include <gtest/gtest.h>

#include "ftp/net_tcp_connection.h"

using namespace skelder::ftp;

TEST(SimpleBuffer, ExtractAndRemoveCheckTheSizeAndNotify) {
  TNetSimpleBuffer b;
  int removed = 0;
  b.OnBytesRemoved = [&](TNetSimpleBuffer*, int32_t n) { removed += n; };
  b.Append("abcdef", 6);
  EXPECT_EQ(b.Extract(2), "ab");
  EXPECT_EQ(std::string(b.Data(), static_cast<size_t>(b.Size())), "cdef");
  EXPECT_THROW(b.Remove(5), ENetNotEnoughDataInBuffer);
  b.Remove(4);
  EXPECT_EQ(b.Size(), 0);
  EXPECT_EQ(removed, 6);
  try {
    b.Extract(1);
    FAIL() << "no exception";
  } catch (const ENetNotEnoughDataInBuffer& e) {
    EXPECT_STREQ(e.what(), "Not enough data in buffer.");
  }
}

TEST(ManagedBuffer, RemovingAdvancesAnOffsetUntilThePackThreshold) {
  TNetManagedBuffer b;
  int removed = 0;
  b.OnBytesRemoved = [&](TNetSimpleBuffer*, int32_t n) { removed += n; };
  std::string data(40000, 'x');
  data[32768] = 'y';
  b.Append(data.data(), static_cast<int32_t>(data.size()));
  b.Remove(1000);
  EXPECT_EQ(b.ConsumedOffset(), 1000);
  EXPECT_EQ(b.Size(), 39000);
  b.Remove(31767);  // the offset reaches 32767: not yet packed
  EXPECT_EQ(b.ConsumedOffset(), 32767);
  b.Remove(1);  // 32768 consumed: the rest moves to the front
  EXPECT_EQ(b.ConsumedOffset(), 0);
  EXPECT_EQ(b.Size(), 40000 - 32768);
  EXPECT_EQ(b.Data()[0], 'y');
  EXPECT_EQ(removed, 32768);
}

TEST(ManagedBuffer, RemovingExactlyAllEmptiesAndOneMoreRaises) {
  TNetManagedBuffer b;
  b.Append("hello", 5);
  b.Remove(2);
  EXPECT_THROW(b.Remove(4), ENetNotEnoughDataInBuffer);
  EXPECT_EQ(b.Size(), 3);
  b.Remove(3);
  EXPECT_EQ(b.Size(), 0);
  EXPECT_EQ(b.ConsumedOffset(), 0);
  b.Append("z", 1);
  EXPECT_EQ(b.Extract(1), "z");
}

TEST(ManagedBuffer, SearchSeesOnlyTheVisibleBytes) {
  TNetManagedBuffer b;
  b.Append("a\nbc\n", 5);
  b.Remove(2);
  EXPECT_EQ(b.IndexOf("\n", 0), 2);
  EXPECT_EQ(b.IndexOf("\n", 3), -1);
  EXPECT_EQ(b.IndexOf("bc", 0), 0);
}

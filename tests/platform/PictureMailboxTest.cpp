// The picture mailbox between a play thread and a pane: copies, newest wins,
// held buffers untouched, buffer reuse, coalesced notifications, a producer
// that never waits for a slow consumer, and the surface in front of it.
#include "platform/PictureMailbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/MailboxSurface.h"

namespace {

using platform::MailboxPicture;
using platform::PictureMailbox;
using platform::PictureRef;

uint8_t Pattern(int64_t seq, int row, int col) { return static_cast<uint8_t>(seq * 37 + (seq >> 8) + row * 11 + col); }

// A YUYV picture of `seq`'s pattern in rows of `stride` bytes (padding 0xEE).
struct Source {
  Source(int64_t seq, int width, int height, int stride)
      : bytes(static_cast<size_t>(stride) * height, 0xEE) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width * 2; ++x) bytes[static_cast<size_t>(y * stride + x)] = Pattern(seq, y, x);
    }
    picture = {bytes.data(), width, height, stride, platform::PixelFormat::YUYV, seq};
  }
  std::vector<uint8_t> bytes;
  platform::Picture picture;
};

// Bytes that differ from the pattern of the picture's time stamp (rows packed).
int Damaged(const MailboxPicture& item) {
  const platform::Picture& p = item.picture;
  int bad = p.stride == p.width * 2 ? 0 : 1;
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width * 2; ++x) bad += p.pixels[y * p.stride + x] != Pattern(p.time_ms, y, x);
  }
  return bad;
}

bool Publish(PictureMailbox& box, int64_t seq, int width = 16, int height = 8) {
  return box.Publish(Source(seq, width, height, width * 2).picture);
}

TEST(PictureMailbox, HandsOverACopyOfTheNewestPictureOnce) {
  PictureMailbox box;
  EXPECT_FALSE(box.TakeNewest());
  EXPECT_FALSE(box.Publish({}));
  Source narrow(7, 6, 4, 12);
  narrow.picture.stride = 11;  // shorter than a row
  EXPECT_FALSE(box.Publish(narrow.picture));

  for (int64_t seq = 40; seq <= 44; ++seq) {
    Source padded(seq, 6, 4, 16);
    ASSERT_TRUE(box.Publish(padded.picture, {1, 2, 30, 20}, {32, 24}));
  }  // the source buffers are gone: the mailbox has its own copy
  const PictureRef got = box.TakeNewest();
  ASSERT_TRUE(got);
  const platform::Picture& p = got->picture;
  EXPECT_EQ(std::tie(p.time_ms, p.width, p.height, p.format), std::make_tuple(44, 6, 4, platform::PixelFormat::YUYV));
  EXPECT_EQ(std::tie(got->dst.x, got->dst.y, got->dst.width, got->dst.height), std::make_tuple(1, 2, 30, 20));
  EXPECT_EQ(std::tie(got->client.width, got->client.height), std::make_tuple(32, 24));
  EXPECT_EQ(got->sequence, 5u);
  EXPECT_EQ(Damaged(*got), 0) << "rows packed, without the source's padding";
  EXPECT_FALSE(box.TakeNewest()) << "nothing new since the last take";
  const platform::MailboxCounters c = box.Counters();
  EXPECT_EQ(std::tie(c.published, c.taken, c.dropped, c.skipped), std::make_tuple(5u, 1u, 4u, 0u));
}

TEST(PictureMailbox, AHeldPictureIsNeverWrittenOver) {
  auto box = std::make_unique<PictureMailbox>();  // three buffers
  Publish(*box, 1);
  PictureRef taken = box->TakeNewest();
  const PictureRef a = taken;  // a copy holds the buffer on its own
  taken.reset();
  for (int seq = 2; seq < 50; ++seq) ASSERT_TRUE(Publish(*box, seq));
  PictureRef b = box->TakeNewest();
  // Two held: the producer has one buffer left and then writes over the
  // picture it published but nobody took.
  for (int seq = 50; seq < 100; ++seq) ASSERT_TRUE(Publish(*box, seq));
  const PictureRef c = box->TakeNewest();
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(c->picture.time_ms, 99);
  // All three held: the producer skips rather than wait or write into one.
  EXPECT_FALSE(Publish(*box, 100));
  EXPECT_EQ(box->Counters().skipped, 1u);
  EXPECT_FALSE(box->TakeNewest());
  b.reset();
  EXPECT_TRUE(Publish(*box, 101));
  EXPECT_EQ(box->TakeNewest()->picture.time_ms, 101);

  box.reset();  // references outlive the mailbox
  EXPECT_EQ(a->picture.time_ms, 1);
  EXPECT_EQ(Damaged(*a) + Damaged(*c), 0);
}

TEST(PictureMailbox, BuffersAreReusedOnceBigEnough) {
  PictureMailbox box;
  PictureRef held;
  auto run = [&](int from, int count, int width, int height) {
    for (int seq = from; seq < from + count; ++seq) {
      ASSERT_TRUE(Publish(box, seq, width, height));
      if (seq % 3 == 0) held = box.TakeNewest();  // hold some, drop others
    }
  };
  run(0, 20, 64, 32);
  const uint64_t warm = box.Counters().allocations;
  EXPECT_LE(warm, 3u);
  run(20, 300, 64, 32);
  EXPECT_EQ(box.Counters().allocations, warm);
  run(320, 20, 128, 64);  // larger: each buffer grows once
  const uint64_t grown = box.Counters().allocations;
  EXPECT_LE(grown, warm + 3);
  run(340, 100, 32, 16);
  EXPECT_EQ(box.Counters().allocations, grown) << "a smaller picture fits the buffers there are";
  EXPECT_EQ(Damaged(*held), 0);
}

TEST(PictureMailbox, NotifiesOnceUntilTheConsumerTakes) {
  int notified = 0;
  PictureMailbox box([&] { ++notified; });
  for (int seq = 0; seq < 5; ++seq) Publish(box, seq);
  EXPECT_EQ(notified, 1);
  EXPECT_TRUE(box.TakeNewest());
  Publish(box, 5);
  Publish(box, 6);
  EXPECT_EQ(notified, 2);
  EXPECT_TRUE(box.TakeNewest());
  EXPECT_FALSE(box.TakeNewest());
  Publish(box, 7);
  EXPECT_EQ(notified, 3) << "a take that found nothing still ends the outstanding notification";
}

// The consumer takes the first picture and holds it until the producer has
// published every other one: a producer that waited for it would never finish.
// Then it reads the picture and lets it go while the producer goes on; with two
// buffers the producer writes into that one next, and only the mailbox orders
// the consumer's reads before those writes (a data race for TSan otherwise).
TEST(PictureMailbox, TheProducerFinishesWhileTheConsumerHoldsAPicture) {
  constexpr int kPictures = 500;
  PictureMailbox box({}, 2);
  Publish(box, 0);
  PictureRef held = box.TakeNewest();
  std::atomic<bool> all_published{false}, let_go{false};
  int last = 0;
  std::thread producer([&] {
    int seq = 1;
    for (; seq < kPictures; ++seq) Publish(box, seq);
    all_published.store(true);
    all_published.notify_one();
    while (!let_go.load(std::memory_order_relaxed)) Publish(box, seq++);
    for (int i = 0; i < 3; ++i) Publish(box, seq++);
    last = seq - 1;
  });
  all_published.wait(false);
  EXPECT_EQ(held->picture.time_ms, 0);
  EXPECT_EQ(Damaged(*held), 0);
  held.reset();
  let_go.store(true, std::memory_order_relaxed);
  producer.join();

  const PictureRef newest = box.TakeNewest();
  ASSERT_TRUE(newest);
  EXPECT_EQ(newest->picture.time_ms, last);
  EXPECT_EQ(Damaged(*newest), 0);
  const platform::MailboxCounters c = box.Counters();
  EXPECT_EQ(c.published, static_cast<uint64_t>(last + 1));
  EXPECT_EQ(c.dropped, c.published - 2);
  EXPECT_EQ(c.skipped, 0u);
  EXPECT_LE(c.allocations, 2u);
}

// A producer as fast as it can go and a consumer that keeps every picture
// while the producer publishes two more: whole pictures, in order, the last one.
TEST(PictureMailbox, ASlowConsumerGetsWholePicturesInOrderAndTheLastOne) {
  constexpr int kPictures = 400;
  std::atomic<uint32_t> notifications{0};
  PictureMailbox box([&] {
    notifications.fetch_add(1);
    notifications.notify_one();
  });
  std::atomic<int> progress{0};  // pictures published
  int takes = 0, damaged = 0, out_of_order = 0;
  int64_t last_seen = -1;
  std::thread consumer([&] {
    PictureRef current;
    uint32_t seen = 0;
    while (last_seen != kPictures - 1) {
      notifications.wait(seen);
      seen = notifications.load();
      ++takes;
      PictureRef next = box.TakeNewest();
      if (!next) continue;
      out_of_order += next->picture.time_ms <= last_seen;
      last_seen = next->picture.time_ms;
      damaged += Damaged(*next);
      current = std::move(next);  // the previous one is dropped only now
      const int until = std::min(progress.load() + 2, kPictures);
      for (int p = progress.load(); p < until; p = progress.load()) progress.wait(p);
      damaged += Damaged(*current);
    }
  });
  for (int seq = 0; seq < kPictures; ++seq) {
    Publish(box, seq, 32, 16);
    progress.fetch_add(1);
    progress.notify_one();
  }
  consumer.join();
  EXPECT_EQ(damaged, 0);
  EXPECT_EQ(out_of_order, 0);
  const platform::MailboxCounters c = box.Counters();
  EXPECT_EQ(c.published, static_cast<uint64_t>(kPictures));
  EXPECT_EQ(c.taken + c.dropped, c.published);
  EXPECT_EQ(c.skipped, 0u) << "the consumer never holds more than two";
  EXPECT_LE(c.allocations, 3u);
  EXPECT_LE(notifications.load(), static_cast<uint32_t>(takes + 1));
}

// As the filter uses it: dst from the client size the pane set; the picture,
// its time stamp and its place taken on the pane's side.
TEST(MailboxSurface, PresentsIntoTheMailboxWithTheSizeThePaneSet) {
  platform::MailboxSurface surface;
  surface.SetClientSize({640, 360});
  platform::Surface& engine_side = surface;
  const platform::Size client = engine_side.ClientSize();
  engine_side.Present(Source(1234, 16, 8, 32).picture, {0, 0, client.width, client.height});
  const platform::Rect band{0, 0, 640, 10};
  engine_side.Erase({&band, 1});
  PictureRef got = surface.mailbox().TakeNewest();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->picture.time_ms, 1234);
  EXPECT_EQ(std::tie(got->dst.width, got->dst.height), std::make_tuple(640, 360));
  EXPECT_EQ(std::tie(got->client.width, got->client.height), std::make_tuple(640, 360));
  EXPECT_FALSE(surface.mailbox().TakeNewest()) << "an erase publishes nothing";
}

}  // namespace

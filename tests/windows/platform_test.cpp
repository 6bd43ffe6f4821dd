// The Win32 platform layer against the real system calls (under Wine when cross-built),
// where the suites that run on it cannot tell: thread priority, event kinds, critical
// sections, the two heaps and message formatting.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdarg>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace {

namespace pf = ucap::platform;

// ---- threads --------------------------------------------------------------------------

struct ThreadProbe {
  std::atomic<int> priority{THREAD_PRIORITY_ERROR_RETURN};
  pf::Event* go = nullptr;
};

uint32_t probe_proc(void* arg) {
  auto* probe = static_cast<ThreadProbe*>(arg);
  pf::wait_event(probe->go, INFINITE);
  probe->priority.store(GetThreadPriority(GetCurrentThread()));
  return 0;
}

TEST(Win32Threads, HighestPriorityIsSetBeforeTheThreadGoesOn) {
  ThreadProbe probe;
  probe.go = pf::create_event(true, false);
  ASSERT_NE(probe.go, nullptr);
  pf::Thread* t = pf::create_thread(probe_proc, &probe, 10000);
  ASSERT_NE(t, nullptr);
  pf::set_priority_highest(t);
  EXPECT_EQ(GetThreadPriority(reinterpret_cast<HANDLE>(t)), THREAD_PRIORITY_HIGHEST);
  pf::set_event(probe.go);
  pf::wait_thread(t);
  EXPECT_EQ(probe.priority.load(), THREAD_PRIORITY_HIGHEST);
  pf::close_thread(t);
  pf::close_event(probe.go);
}

// ---- events ----------------------------------------------------------------------------------

TEST(Win32Events, ManualResetStaysSignalledUntilResetAutoResetReleasesOneWait) {
  pf::Event* e = pf::create_event(true, false);
  ASSERT_NE(e, nullptr);
  EXPECT_FALSE(pf::wait_event(e, 0));
  pf::set_event(e);
  EXPECT_TRUE(pf::wait_event(e, 0));
  EXPECT_TRUE(pf::wait_event(e, 0));
  pf::reset_event(e);
  EXPECT_FALSE(pf::wait_event(e, 10));
  pf::close_event(e);
  e = pf::create_event(false, true);
  ASSERT_NE(e, nullptr);
  EXPECT_TRUE(pf::wait_event(e, 0));
  EXPECT_FALSE(pf::wait_event(e, 0));
  pf::close_event(e);
}

// ---- critical sections ---------------------------------------------------------------------

struct Counter {
  pf::CriticalSection cs;
  long value = 0;  // guarded by cs
};

uint32_t add_many(void* arg) {
  auto* c = static_cast<Counter*>(arg);
  for (int i = 0; i < 20000; ++i) {
    pf::Lock lock(c->cs);
    long v = c->value;
    if ((i & 1023) == 0) Sleep(0);  // give the other thread a chance to interleave
    c->value = v + 1;
  }
  return 0;
}

TEST(Win32CriticalSection, ExcludesOtherThreadsAndIsReentrant) {
  Counter c;
  std::memset(static_cast<void*>(&c.cs), 0, sizeof c.cs);  // records are zero-filled
  c.cs.init();
  {
    pf::Lock outer(c.cs);
    pf::Lock inner(c.cs);  // same thread: enters again, as a critical section does
  }
  pf::Thread* a = pf::create_thread(add_many, &c, 10000);
  pf::Thread* b = pf::create_thread(add_many, &c, 10000);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  pf::wait_thread(a);
  pf::wait_thread(b);
  pf::close_thread(a);
  pf::close_thread(b);
  EXPECT_EQ(c.value, 40000);
  c.cs.destroy();
}

// ---- heaps ------------------------------------------------------------------------------------

TEST(Win32Memory, WorkBufferIsLockedMoveableGlobalAndLocalAllocFixedMemoryBothZeroFilled) {
  pf::WorkBuffer buf(100000);
  ASSERT_TRUE(buf);
  EXPECT_EQ(buf.size(), 100000u);
  const unsigned char* bytes = buf.as<unsigned char>();
  size_t nonzero = 0;
  for (size_t i = 0; i < buf.size(); ++i) nonzero += bytes[i] != 0;
  EXPECT_EQ(nonzero, 0u);
  // The block belongs to a moveable global handle that is locked once while in use.
  HGLOBAL h = GlobalHandle(buf.as<void>());
  ASSERT_NE(h, nullptr);
  EXPECT_NE(static_cast<void*>(h), buf.as<void>());  // moveable: handle and address differ
  EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 1u);
  EXPECT_GE(GlobalSize(h), 100000u);
  std::memset(buf.as<void>(), 0xA5, buf.size());  // the whole size is writable
  // The interface detail's buffer: zero-filled fixed local memory.
  auto* p = static_cast<unsigned char*>(pf::local_alloc(300));
  ASSERT_NE(p, nullptr);
  EXPECT_GE(LocalSize(p), 300u);
  for (int i = 0; i < 300; ++i) ASSERT_EQ(p[i], 0) << i;
  pf::local_free(p);
  pf::local_free(nullptr);  // harmless
}

// ---- message formatting ---------------------------------------------------------------------

std::string format(const char* fmt, ...) {
  struct {
    char before[16];
    char buf[256];
    char after[16];
  } guarded;
  std::memset(&guarded, 0x5A, sizeof guarded);
  va_list args;
  va_start(args, fmt);
  pf::format_message(guarded.buf, fmt, args);
  va_end(args);
  for (char c : guarded.before) EXPECT_EQ(c, 0x5A) << "written before the buffer";
  for (char c : guarded.after) EXPECT_EQ(c, 0x5A) << "written past the buffer";
  EXPECT_NE(std::memchr(guarded.buf, '\0', sizeof guarded.buf), nullptr) << "not terminated";
  return std::string(guarded.buf, strnlen(guarded.buf, sizeof guarded.buf));
}

TEST(Win32Format, CatalogueConversionsAsWvsprintfA) {
  EXPECT_EQ(format("(%d)Init error %d", 2, 10), "(2)Init error 10");
  EXPECT_EQ(format("(%d)UcapAcquisition error %d", 0, -4), "(0)UcapAcquisition error -4");
  EXPECT_EQ(format("(%d)Couldn\xB4t create thread", 7), "(7)Couldn\xB4t create thread");
  EXPECT_EQ(format("UcapIsFastAcquisitionReady error %d", INT32_MIN),
            "UcapIsFastAcquisitionReady error -2147483648");
  EXPECT_EQ(format("cleanup error"), "cleanup error");
}

TEST(Win32Format, LongTextIsCutToTheBufferNotWrittenPastIt) {
  // wvsprintfA itself stops only at 1024 characters; the 256-byte buffer must hold.
  std::string fmt(300, 'x');
  fmt += "%d";
  EXPECT_EQ(format(fmt.c_str(), 5), std::string(255, 'x'));
  std::string very_long(1500, 'y');
  EXPECT_EQ(format(very_long.c_str()), std::string(255, 'y'));
}

}  // namespace

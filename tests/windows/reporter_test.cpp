// The error reporter's Windows output, for real: the formatted line reaches
// OutputDebugStringA (seen as the DBG_PRINTEXCEPTION_C it raises, as a debugger sees
// it), MessageBoxA is called with no owner, no caption and style 0x2030 and returns
// (under Wine without a display it returns at once). (The message switch is checked before
// the platform's output: the device suite's reporter tests, which run here too.)
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/reporter.h"
#include "platform/platform.h"
#include "report_output_watch.h"
#include "ucap/ucap.h"

namespace {

using ucap_test::BoxCall;
using ucap_test::ReportOutputWatch;

class Win32ReporterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ucap::platform::set_message_hook(nullptr, nullptr);  // the real output
    UcapSetErrorMessages(1);
    // This program carries the platform layer: its own imports are the ones called.
    watch_ = std::make_unique<ReportOutputWatch>(GetModuleHandleA(nullptr));
    ASSERT_TRUE(watch_->ok());
  }
  void TearDown() override {
    watch_.reset();
    UcapSetErrorMessages(1);
  }
  std::vector<std::string> debug_lines() const { return watch_->debug_lines(); }
  std::vector<BoxCall> box_calls() const { return watch_->box_calls(); }
  std::unique_ptr<ReportOutputWatch> watch_;
};

TEST_F(Win32ReporterTest, LineReachesDebuggerOutputAndMessageBoxWhichReturns) {
  ucap::report(ucap::msg::kInitError, 2, 10);
  // Reaching this line means the modal box returned: Wine without a display answers at once.
  EXPECT_EQ(debug_lines(), std::vector<std::string>{"(2)Init error 10"});  // no newline added
  std::vector<BoxCall> calls = box_calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].owner, nullptr);
  EXPECT_EQ(calls[0].text, "(2)Init error 10");
  EXPECT_TRUE(calls[0].caption_null);
  EXPECT_EQ(calls[0].style, static_cast<UINT>(MB_TASKMODAL | MB_ICONEXCLAMATION | MB_OK));
}

uint32_t report_from_worker(void*) {
  ucap::report(ucap::msg::kCreateThread, 3);
  return 0;
}

TEST_F(Win32ReporterTest, WorkerThreadWithSmallStackReportsToo) {
  // Frame workers start with a 10,000-byte stack argument and may report; the accent byte
  // passes unchanged.
  ucap::platform::Thread* t = ucap::platform::create_thread(report_from_worker, nullptr, 10000);
  ASSERT_NE(t, nullptr);
  ucap::platform::wait_thread(t);
  ucap::platform::close_thread(t);
  const std::string expected = std::string("(3)Couldn") + '\xB4' + "t create thread";
  EXPECT_EQ(debug_lines(), std::vector<std::string>{expected});
  ASSERT_EQ(box_calls().size(), 1u);
  EXPECT_EQ(box_calls()[0].text, expected);
}

TEST_F(Win32ReporterTest, HookTakesTheLineInsteadOfTheWindowsOutput) {
  std::vector<std::string> hooked;
  ucap::platform::set_message_hook(
      [](const char* text, void* ctx) {
        static_cast<std::vector<std::string>*>(ctx)->push_back(text);
      },
      &hooked);
  ucap::report(ucap::msg::kSetupError);
  ucap::platform::set_message_hook(nullptr, nullptr);
  EXPECT_EQ(hooked, std::vector<std::string>{"Setup error"});
  EXPECT_TRUE(debug_lines().empty());
  EXPECT_TRUE(box_calls().empty());
}

}  // namespace

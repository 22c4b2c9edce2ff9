// A structured exception inside the module's GetPortBuffer stays inside the
// loader.
#include <gtest/gtest.h>

#include <windows.h>

#include "loader/guarded_port_buffer.h"

namespace {

uint8_t gData[4] = {9, 8, 7, 6};

int32_t __cdecl Serve(uint32_t port, int32_t universe, uint8_t** out) {
  if (port != 3 || universe != -4) return 0;
  *out = gData;
  return 1;
}

int32_t __cdecl AccessViolation(uint32_t, int32_t, uint8_t** out) {
  *out = gData;
  return *static_cast<volatile int32_t*>(nullptr);
}

int32_t __cdecl NonContinuable(uint32_t, int32_t, uint8_t**) {
  RaiseException(0xE0490002, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  return 1;
}

// Leaves every callee-saved register and the stack pointer wrong, then faults.
extern "C" __attribute__((naked)) int32_t __cdecl ClobberAndFault(uint32_t, int32_t, uint8_t**) {
  asm(R"(
    movl $0x11111111, %ebx
    movl $0x22222222, %esi
    movl $0x33333333, %edi
    movl $0x44444444, %ebp
    subl $64, %esp
    movl 0, %eax
    ret
  )");
}

// The thread's innermost exception registration record.
void* ExceptionChain() {
  void* head;
  asm volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
}

TEST(GuardedPortBuffer, PassesArgumentsAndResultThrough) {
  void* chain = ExceptionChain();
  uint8_t* out = nullptr;
  EXPECT_EQ(IxaGuardedGetPortBuffer(&Serve, 3, -4, &out), 1);
  EXPECT_EQ(out, gData);
  EXPECT_EQ(IxaGuardedGetPortBuffer(&Serve, 2, -4, &out), 0);
  EXPECT_EQ(ExceptionChain(), chain);
}

TEST(GuardedPortBuffer, ExceptionsBecomeAZeroResult) {
  void* chain = ExceptionChain();
  uint8_t* out = nullptr;
  EXPECT_EQ(IxaGuardedGetPortBuffer(&AccessViolation, 0, 0, &out), 0);
  EXPECT_EQ(ExceptionChain(), chain);
  EXPECT_EQ(IxaGuardedGetPortBuffer(&NonContinuable, 0, 0, &out), 0);
  EXPECT_EQ(ExceptionChain(), chain);
  // The frame is still usable afterwards.
  EXPECT_EQ(IxaGuardedGetPortBuffer(&Serve, 3, -4, &out), 1);
}

TEST(GuardedPortBuffer, CallerRegistersSurviveAFault) {
  // Values live across the calls sit in callee-saved registers.
  uint32_t a = 1, b = 2, c = 3, d = 4;
  uint8_t* out = nullptr;
  for (int i = 0; i < 100; ++i) {
    int32_t result = IxaGuardedGetPortBuffer(&ClobberAndFault, 0, 0, &out);
    a = a * 3 + static_cast<uint32_t>(result);
    b += a;
    c ^= b;
    d += c + static_cast<uint32_t>(i);
  }
  uint32_t ea = 1, eb = 2, ec = 3, ed = 4;
  for (int i = 0; i < 100; ++i) {
    ea = ea * 3;
    eb += ea;
    ec ^= eb;
    ed += ec + static_cast<uint32_t>(i);
  }
  EXPECT_EQ(a, ea);
  EXPECT_EQ(b, eb);
  EXPECT_EQ(c, ec);
  EXPECT_EQ(d, ed);
}

}  // namespace

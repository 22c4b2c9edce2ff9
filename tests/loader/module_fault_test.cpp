// A Win32 exception raised inside the module stays inside the export that
// called it, whatever state the module left the registers in.
#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

#include "IxaLoader.h"
#include "loader/dmx_buffer.h"
#include "loader/loader_state.h"
#include "loader/module_gate.h"
#include "loader/patch_nodes.h"
#include "loader/processor_table.h"
#include "ui/patch_table.h"

using namespace Ixa;

namespace {

uint8_t gData[4] = {9, 8, 7, 6};

int32_t __cdecl Serve(uint32_t port, int32_t universe, uint8_t** out) {
  if (port != 3 || universe != 4) return 0;
  *out = gData;
  return 1;
}

int32_t __cdecl SucceedWithNull(uint32_t, int32_t, uint8_t** out) {
  *out = nullptr;
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

// A module frame with a termination handler of its own that must run when
// the exception leaves it.
bool gModuleFrameUnwound = false;

extern "C" EXCEPTION_DISPOSITION NTAPI ModuleFrameHandler(EXCEPTION_RECORD* exception, void*, CONTEXT*, void*) {
  if ((exception->ExceptionFlags & EXCEPTION_UNWINDING) != 0) gModuleFrameUnwound = true;
  return ExceptionContinueSearch;
}

#if defined(__i386__)
int32_t __cdecl FaultInsideOwnFrame(uint32_t, int32_t, uint8_t**) {
  EXCEPTION_REGISTRATION_RECORD record;
  asm volatile("movl %%fs:0, %0" : "=r"(record.Next) : : "memory");
  record.Handler = &ModuleFrameHandler;
  asm volatile("movl %0, %%fs:0" : : "r"(&record) : "memory");
  RaiseException(0xE0490003, 0, 0, nullptr);
  asm volatile("movl %0, %%fs:0" : : "r"(record.Next) : "memory");
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

void* ExceptionChain() {
  void* head;
  asm volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
}
#else
extern "C" void RaiseModuleException() { RaiseException(0xE0490003, 0, 0, nullptr); }

// The module frame's unwind data names its handler for the unwind pass.
extern "C" int32_t FaultInsideOwnFrame(uint32_t, int32_t, uint8_t**);
asm(R"(
  .text
  .def FaultInsideOwnFrame; .scl 2; .type 32; .endef
  .seh_proc FaultInsideOwnFrame
FaultInsideOwnFrame:
  subq $40, %rsp
  .seh_stackalloc 40
  .seh_endprologue
  .seh_handler ModuleFrameHandler, @unwind
  call RaiseModuleException
  movl $1, %eax
  addq $40, %rsp
  ret
  .seh_endproc
)");

// Leaves every callee-saved register wrong, then faults. Its unwind data
// restores none of them; the stack pointer must stay walkable on x86_64.
extern "C" int32_t ClobberAndFault(uint32_t, int32_t, uint8_t**);
asm(R"(
  .text
  .def ClobberAndFault; .scl 2; .type 32; .endef
  .seh_proc ClobberAndFault
ClobberAndFault:
  .seh_endprologue
  movq $0x1111111111111111, %rbx
  movq $0x2222222222222222, %rsi
  movq $0x3333333333333333, %rdi
  movq $0x4444444444444444, %rbp
  movq $0x5555555555555555, %r12
  movq $0x6666666666666666, %r13
  movq $0x7777777777777777, %r14
  movq $0x8888888888888888, %r15
  movl 0, %eax
  ret
  .seh_endproc
)");

// x86_64 keeps no handler chain in the thread block.
void* ExceptionChain() { return nullptr; }
#endif

// Row 0 resolved to port 3, universe 4, served by a scripted entry point.
class FaultingModule : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDefaultPatch();
    PatchTable()[0].portIndex.store(3);
    PatchTable()[0].universe.store(4);
    Loader().module.store(GetModuleHandleA(nullptr));
  }
  void TearDown() override {
    Loader().module.store(nullptr);
    UnbindProcessorTable();
    SetDefaultPatch();
  }
  static IxaBool Read(GetPortBufferFn entry, unsigned char** buffer) {
    Loader().table.GetPortBuffer.store(entry);
    return GetDMXBuffer(0, buffer);
  }
};

TEST_F(FaultingModule, ServesWhatTheModuleAnswers) {
  void* chain = ExceptionChain();
  unsigned char* buffer = nullptr;
  EXPECT_EQ(Read(&Serve, &buffer), 1);
  EXPECT_EQ(buffer, gData);
  PatchTable()[0].universe.store(5);
  EXPECT_EQ(Read(&Serve, &buffer), 0);
  EXPECT_EQ(buffer, const_cast<uint8_t*>(kBlankUniverse));
  EXPECT_EQ(ExceptionChain(), chain);
  // Success with no buffer is none; the blank one is read-only.
  EXPECT_EQ(Read(&SucceedWithNull, &buffer), 0);
  EXPECT_EQ(buffer, const_cast<uint8_t*>(kBlankUniverse));
  MEMORY_BASIC_INFORMATION region{};
  ASSERT_EQ(VirtualQuery(buffer, &region, sizeof(region)), sizeof(region));
  EXPECT_EQ(region.Protect, static_cast<DWORD>(PAGE_READONLY));
}

TEST_F(FaultingModule, ExceptionsGiveTheBlankBuffer) {
  void* chain = ExceptionChain();
  for (GetPortBufferFn entry : {&AccessViolation, &NonContinuable, &ClobberAndFault}) {
    unsigned char* buffer = nullptr;
    EXPECT_EQ(Read(entry, &buffer), 0);
    EXPECT_EQ(buffer, const_cast<uint8_t*>(kBlankUniverse));
    EXPECT_EQ(ExceptionChain(), chain);
  }
  unsigned char* buffer = nullptr;
  EXPECT_EQ(Read(&Serve, &buffer), 1);
}

TEST_F(FaultingModule, TheModulesOwnFramesAreUnwound) {
  gModuleFrameUnwound = false;
  unsigned char* buffer = nullptr;
  EXPECT_EQ(Read(&FaultInsideOwnFrame, &buffer), 0);
  EXPECT_TRUE(gModuleFrameUnwound);
}

TEST_F(FaultingModule, CallerRegistersSurviveAFault) {
  // Values live across the calls sit in callee-saved registers.
  Loader().table.GetPortBuffer.store(&ClobberAndFault);
  uint32_t a = 1, b = 2, c = 3, d = 4;
  for (int i = 0; i < 100; ++i) {
    unsigned char* buffer = nullptr;
    uint32_t result = GetDMXBuffer(0, &buffer);
    a = a * 3 + result;
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

HANDLE gInside = CreateEventW(nullptr, FALSE, FALSE, nullptr);
HANDLE gLeave = CreateEventW(nullptr, FALSE, FALSE, nullptr);

int32_t __cdecl Linger(uint32_t, int32_t, uint8_t** out) {
  SetEvent(gInside);
  WaitForSingleObject(gLeave, 10000);
  *out = gData;
  return 1;
}

DWORD WINAPI ReadRowZero(void*) {
  unsigned char* buffer = nullptr;
  return static_cast<DWORD>(GetDMXBuffer(0, &buffer));
}

// The module is freed only once no read is inside it. A read whose thread
// was ended inside the module (a host's watchdog) holds back that module
// alone: the next binding counts afresh.
TEST_F(FaultingModule, ModuleCallsAreWaitedForBeforeTheModuleIsFreed) {
  for (bool endedInside : {false, true}) {
    SCOPED_TRACE(endedInside ? "reader ended inside" : "reader returns");
    Loader().table.GetPortBuffer.store(&Linger);
    HANDLE reader = CreateThread(nullptr, 0, &ReadRowZero, nullptr, 0, nullptr);
    ASSERT_NE(reader, nullptr);
    ASSERT_EQ(WaitForSingleObject(gInside, 10000), WAIT_OBJECT_0);
    if (endedInside) TerminateThread(reader, 0);
    const ModuleCallCount& calls = UnbindProcessorTable();
    EXPECT_FALSE(WaitForModuleCalls(calls, 50));
    if (!endedInside) {
      SetEvent(gLeave);
      EXPECT_TRUE(WaitForModuleCalls(calls, 10000));
    }
    EXPECT_EQ(WaitForSingleObject(reader, 10000), WAIT_OBJECT_0);
    CloseHandle(reader);

    unsigned char* buffer = nullptr;
    EXPECT_EQ(Read(&Serve, &buffer), 1);
    EXPECT_TRUE(WaitForModuleCalls(UnbindProcessorTable(), 0));
  }
}

int gSendCalls = 0;
int gMessagesKept = 0;

int32_t __cdecl FaultingSend(int32_t, int32_t, const uint8_t*) {
  ++gSendCalls;
  RaiseException(0xE0490004, 0, 0, nullptr);
  return 1;
}

int32_t __cdecl KeepingSend(int32_t, int32_t length, const uint8_t* message) {
  if (length == 13 && message[6] == 0x24) ++gMessagesKept;
  return 1;
}

TEST_F(FaultingModule, CommandsSurviveAFaultingModule) {
  void* chain = ExceptionChain();
  gSendCalls = 0;
  Loader().table.SendMIDICommands.store(&FaultingSend);
  EXPECT_EQ(SelectFixture(1), 1);
  EXPECT_EQ(SetFixturePanTilt(1, 2, 3), 1);
  EXPECT_EQ(SelectNone(), 1);
  EXPECT_EQ(gSendCalls, 4);  // tilt is still sent after pan faulted
  EXPECT_EQ(ExceptionChain(), chain);

  gMessagesKept = 0;
  Loader().table.SendMIDICommands.store(&KeepingSend);
  EXPECT_EQ(SelectFixture(1), 1);
  EXPECT_EQ(gMessagesKept, 1);
}

int32_t __cdecl FaultingNodes(int32_t*, int32_t) { return *static_cast<volatile int32_t*>(nullptr); }
int32_t __cdecl OneNode(int32_t* nodes, int32_t) {
  nodes[0] = 1;
  return 1;
}
int32_t __cdecl FaultingConnect(int32_t) { return *static_cast<volatile int32_t*>(nullptr); }
int32_t __cdecl FaultingVersion(int32_t*) { return *static_cast<volatile int32_t*>(nullptr); }
int32_t __cdecl FaultingUserNumber(int32_t) { return *static_cast<volatile int32_t*>(nullptr); }

TEST_F(FaultingModule, EveryOtherEntryPointGivesItsFailureResult) {
  ProcessorTable& table = Loader().table;
  table.GetLoaderVersion.store(&FaultingVersion);
  LoaderVersionCheck version = CheckLoaderVersion();
  EXPECT_FALSE(version.answered);
  EXPECT_FALSE(version.accepted);

  table.ChangeUserNum.store(&FaultingUserNumber);
  EXPECT_EQ(ChangeUserNumber(3), 0);

  // The rows keep what they had when resolving fails halfway.
  for (GetAvailableNodesFn nodes : {&FaultingNodes, &OneNode}) {
    table.GetAvailableNodes.store(nodes);
    table.ConnectToNode.store(&FaultingConnect);
    EXPECT_FALSE(ResolvePatchNodes());
    EXPECT_EQ(PatchTable()[0].portIndex.load(), 3);
  }
  EXPECT_TRUE(WaitForModuleCalls(UnbindProcessorTable(), 0));
}

}  // namespace

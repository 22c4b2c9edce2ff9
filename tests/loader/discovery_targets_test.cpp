// Where discovery requests go besides 255.255.255.255, and what an attempt
// does when some of them cannot be sent.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2tcpip.h>

#include "loader/discovery_targets.h"
#include "loader/trust_policy.h"

using namespace Ixa;

namespace {

constexpr uint32_t Ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d) { return a << 24 | b << 16 | c << 8 | d; }
constexpr uint32_t kUp = IFF_UP | IFF_BROADCAST | IFF_MULTICAST;

struct SubnetRow {
  uint32_t address, mask;
  bool has;
  uint32_t broadcast;
};

TEST(DiscoveryTargets, DirectedBroadcastOfEverySubnetSize) {
  const SubnetRow rows[] = {
      {Ip(10, 1, 2, 3), Ip(255, 0, 0, 0), true, Ip(10, 255, 255, 255)},
      {Ip(172, 16, 5, 9), Ip(255, 255, 0, 0), true, Ip(172, 16, 255, 255)},
      {Ip(192, 168, 1, 20), Ip(255, 255, 255, 0), true, Ip(192, 168, 1, 255)},
      {Ip(10, 77, 0, 5), Ip(255, 255, 255, 252), true, Ip(10, 77, 0, 7)},
      {Ip(169, 254, 3, 4), Ip(255, 255, 0, 0), true, Ip(169, 254, 255, 255)},  // bare cable, no DHCP
      {Ip(10, 66, 1, 1), Ip(255, 255, 255, 254), false, 0},                    // /31: no broadcast
      {Ip(10, 66, 2, 1), Ip(255, 255, 255, 255), false, 0},                    // /32
      {Ip(10, 66, 2, 1), 0, false, 0},                                         // would be 255.255.255.255
      {Ip(10, 66, 2, 1), Ip(255, 0, 255, 0), false, 0},                        // no prefix
  };
  for (const SubnetRow& row : rows) {
    uint32_t broadcast = 0;
    EXPECT_EQ(DirectedBroadcast(row.address, row.mask, &broadcast), row.has) << DottedAddress(row.address);
    if (row.has) {
      EXPECT_EQ(DottedAddress(broadcast), DottedAddress(row.broadcast));
    }
  }
}

TEST(DiscoveryTargets, OnlyUpBroadcastInterfacesThatAreNeitherLoopbackNorPointToPoint) {
  const std::vector<InterfaceAddress> interfaces = {
      {Ip(127, 0, 0, 1), Ip(255, 0, 0, 0), IFF_UP | IFF_LOOPBACK},
      {Ip(10, 88, 0, 1), Ip(255, 255, 255, 0), kUp},
      {Ip(10, 88, 0, 9), Ip(255, 255, 255, 0), kUp},            // same subnet: one request
      {Ip(10, 66, 4, 1), Ip(255, 255, 255, 0), IFF_BROADCAST},  // down
      {Ip(10, 55, 0, 1), Ip(255, 255, 255, 0), IFF_UP | IFF_POINTTOPOINT | IFF_BROADCAST},
      {Ip(10, 44, 0, 1), Ip(255, 255, 255, 0), IFF_UP},  // a tunnel without broadcast
      {Ip(10, 66, 2, 1), Ip(255, 255, 255, 255), kUp},
      {Ip(169, 254, 3, 4), Ip(255, 255, 0, 0), kUp},
      {Ip(10, 77, 0, 1), Ip(255, 255, 255, 0), kUp},
  };
  std::vector<std::string> got;
  for (const BroadcastTarget& target : BroadcastTargets(interfaces)) {
    got.push_back(DottedAddress(target.broadcast) + " via " + DescribeInterface(target.address, target.prefix));
  }
  EXPECT_EQ(got, (std::vector<std::string>{"10.88.0.255 via 10.88.0.1/24", "169.254.255.255 via 169.254.3.4/16",
                                           "10.77.0.255 via 10.77.0.1/24"}));
}

TEST(DiscoveryTargets, LimitedBroadcastFailingPausesOnlyWhenNoDirectedRequestWentOut) {
  EXPECT_EQ(NextStep(true, 0), AfterSend::AwaitReply);
  EXPECT_EQ(NextStep(true, 2), AfterSend::AwaitReply);
  EXPECT_EQ(NextStep(false, 1), AfterSend::AwaitReply);  // no default route, lighting network up
  EXPECT_EQ(NextStep(false, 0), AfterSend::Pause);
}

TEST(DiscoveryTargets, SendFailureIsToldWhenItStartsChangesOrEndsAndAgainAfterTheInterfaceCameBack) {
  SendFailureMemory memory;
  const uint32_t a = Ip(10, 77, 0, 1);
  const std::vector<BroadcastTarget> listed = {{Ip(10, 77, 0, 255), a, 24}};
  const struct {
    int error;
    bool told;
  } attempts[] = {{0, false}, {10051, true}, {10051, false}, {10065, true}, {0, true}, {0, false}};
  for (const auto& attempt : attempts) EXPECT_EQ(memory.Changed(a, attempt.error), attempt.told) << attempt.error;
  EXPECT_TRUE(memory.Changed(a, 10051));
  memory.Keep(listed);
  EXPECT_FALSE(memory.Changed(a, 10051));
  memory.Keep({});  // the cable was pulled
  EXPECT_TRUE(memory.Changed(a, 10051));
}

TEST(DiscoveryTargets, ReplyArrivalIsTheAddressItWasSentToElseTheSendersSubnet) {
  const std::vector<InterfaceAddress> interfaces = {
      {Ip(127, 0, 0, 1), Ip(255, 0, 0, 0), IFF_UP | IFF_LOOPBACK},
      {Ip(10, 88, 0, 1), Ip(255, 255, 255, 0), kUp},
      {Ip(10, 77, 0, 1), Ip(255, 255, 255, 0), kUp},
  };
  EXPECT_EQ(ArrivalInterface(interfaces, Ip(10, 77, 0, 1), Ip(10, 77, 0, 2)), &interfaces[2]);
  EXPECT_EQ(ArrivalInterface(interfaces, Ip(127, 0, 0, 1), Ip(127, 0, 0, 1)), &interfaces[0]);
  EXPECT_EQ(ArrivalInterface(interfaces, 0, Ip(10, 88, 0, 7)), &interfaces[1]);
  EXPECT_EQ(ArrivalInterface(interfaces, 0, Ip(192, 168, 1, 20)), nullptr);
}

}  // namespace

// Whose reply is taken: loopback and the PC's own networks, or only the
// consoles an administrator listed.
TEST(ConsolePolicy, RepliesAreTakenFromOwnNetworksOrOnlyFromTheListedConsoles) {
  const std::vector<InterfaceAddress> interfaces = {{Ip(10, 77, 0, 1), 0xFFFFFF00, 0}, {Ip(192, 168, 5, 9), 0, 0}};
  TrustPolicy own;
  TrustPolicy listed;
  listed.restrictsConsoles = true;
  AddressRange range{};
  ASSERT_TRUE(ParseAddressRange("172.16.0.0/12", &range));
  listed.allowedConsoles.push_back(range);
  ASSERT_TRUE(ParseAddressRange("10.77.0.20", &range));
  listed.allowedConsoles.push_back(range);
  TrustPolicy none;
  none.restrictsConsoles = true;
  const struct {
    uint32_t sender;
    bool byOwn, byListed;
  } rows[] = {
      {Ip(127, 0, 0, 1), true, false},    {Ip(127, 9, 9, 9), true, false},   {Ip(10, 77, 0, 20), true, true},
      {Ip(10, 77, 0, 21), true, false},   {Ip(10, 77, 1, 20), false, false}, {Ip(192, 168, 5, 1), false, false},
      {Ip(172, 31, 255, 1), false, true}, {Ip(8, 8, 8, 8), false, false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(IsConsoleAllowed(row.sender, interfaces, own), row.byOwn) << DottedAddress(row.sender);
    EXPECT_EQ(IsConsoleAllowed(row.sender, interfaces, listed), row.byListed) << DottedAddress(row.sender);
    EXPECT_FALSE(IsConsoleAllowed(row.sender, interfaces, none)) << DottedAddress(row.sender);
  }
  for (const char* bad : {"", "10.0.0", "10.0.0.256", "10.0.0.1/33", "10.0.0.1/", "a.b.c.d", "10.0.0.1 "}) {
    EXPECT_FALSE(ParseAddressRange(bad, &range)) << bad;
  }
  Os::Sha256Digest digest{};
  EXPECT_TRUE(ParseDigest(std::string(63, 'a') + "F", &digest));
  EXPECT_EQ(digest[31], 0xAF);
  EXPECT_FALSE(ParseDigest(std::string(63, 'a'), &digest));
  EXPECT_FALSE(ParseDigest(std::string(63, 'a') + "g", &digest));
}

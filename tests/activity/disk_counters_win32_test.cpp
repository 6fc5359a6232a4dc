#include "activity/disk_counters_win32.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <array>

#include "activity/counter_scale.h"
#include "activity/wmi_connection_win32.h"
#include "tests/activity/wmi_fakes_win32.h"

namespace {

std::array<std::uint32_t, 11> Fields(const CounterScale& s) {
  return {s.readTotal, s.writeTotal, s.prevReadTotal, s.prevWriteTotal, s.readDelta, s.writeDelta,
          s.readMax,   s.writeMax,   s.readHeight,    s.writeHeight,    s.lastSample};
}

// A scale in the middle of a run, so that a poll that must not touch it is
// caught touching it.
CounterScale MidRunScale() {
  CounterScale scale;
  scale.readTotal = 1500;
  scale.writeTotal = 700;
  scale.prevReadTotal = 1500;
  scale.prevWriteTotal = 700;
  scale.readDelta = 40;
  scale.writeDelta = 10;
  scale.readMax = 80;
  scale.writeMax = 75;
  scale.readHeight = 7;
  scale.writeHeight = 2;
  scale.lastSample = 2200;
  return scale;
}

class DiskPollTest : public testing::Test {
 protected:
  FakeServices services;
  FakeInstanceEnum instances;

  void SetUp() override {
    counterScale = CounterScale{};
    services.instanceEnum = &instances;
  }

  // An instance whose PerfData is the given object.
  static void Embed(FakeClassObject& instance, IUnknown& perfData) { instance.HoldObject(&perfData); }

  ActivitySample Poll(std::string& output) {
    StdoutCapture capture;
    const ActivitySample sample = PollDiskCounters(&services);
    output = capture.Take();
    return sample;
  }
};

TEST_F(DiskPollTest, PrintsEveryPropertyAndCountsOnlyExactIntegerCounters) {
  FakeClassObject instance, perfData;
  perfData.WithInteger(L"ReadCount", 100)
      .WithText(L"Name", L"Disk0")
      .WithInteger(L"QueueDepth", -3)
      .WithValue(L"IdleTime", VT_UI8)
      .WithValue(L"Empty", VT_NULL)
      .WithValue(L"ReadCount", VT_I4 | VT_BYREF)  // the type is compared whole
      .WithText(L"ReadCount", L"900")
      .WithInteger(L"readcount", 500)
      .WithInteger(L"WriteCount", 40);
  Embed(instance, perfData);
  instances.instances = {&instance};

  std::string output;
  EXPECT_EQ(Poll(output), 140);
  // Narrow bytes, one line per property, in the walk's order.
  EXPECT_EQ(output,
            "\tReadCount\t= 100\n"
            "\tName\t= Disk0\n"
            "\tQueueDepth\t= -3\n"
            "\tIdleTime\t= NULL\n"
            "\tEmpty\t= NULL\n"
            "\tReadCount\t= NULL\n"
            "\tReadCount\t= 900\n"
            "\treadcount\t= 500\n"
            "\tWriteCount\t= 40\n");
  // The first completed poll only records the totals.
  EXPECT_EQ(Fields(counterScale), (std::array<std::uint32_t, 11>{100, 40, 100, 40, 0, 0, 0, 0, 0, 0, 140}));
}

TEST_F(DiskPollTest, AsksWmiWithTheExpectedArgumentsAndReleasesEverything) {
  FakeClassObject first, second, firstData, secondData;
  firstData.WithInteger(L"ReadCount", 10).WithInteger(L"WriteCount", 1);
  secondData.WithInteger(L"ReadCount", 20).WithInteger(L"WriteCount", 2);
  Embed(first, firstData);
  Embed(second, secondData);
  instances.instances = {&first, &second};

  std::string output;
  EXPECT_EQ(Poll(output), 33);

  EXPECT_EQ(services.enumClasses, std::vector<std::wstring>{L"MSDiskDriver_Performance"});
  EXPECT_EQ(services.enumFlags, std::vector<LONG>{WBEM_FLAG_SHALLOW});
  EXPECT_FALSE(services.enumContextGiven);
  // Two instances, then the end of data; each call waits a bounded time for one object.
  ASSERT_EQ(instances.nextCalls.size(), 3u);
  for (const auto& [timeout, count] : instances.nextCalls) {
    EXPECT_EQ(timeout, INSTANCE_WAIT_MS);
    EXPECT_EQ(count, 1u);
  }
  // PerfData, then the key that names the disk in the poll's set.
  for (FakeClassObject* instance : {&first, &second}) {
    EXPECT_EQ(instance->getNames, (std::vector<std::wstring>{L"PerfData", L"InstanceName"}));
    EXPECT_EQ(instance->getFlags, (std::vector<LONG>{0, 0}));
    EXPECT_FALSE(instance->getTypeOrFlavorAsked);
  }
  for (FakeClassObject* perfData : {&firstData, &secondData}) {
    EXPECT_EQ(perfData->beginFlags, std::vector<LONG>{WBEM_FLAG_LOCAL_ONLY});
    EXPECT_EQ(perfData->nextFlags, (std::vector<LONG>{0, 0, 0}));
    EXPECT_FALSE(perfData->nextTypeOrFlavorAsked);
    EXPECT_EQ(perfData->endCalls, 1);
  }

  // Every reference the poll took is given back: only the test's own remain
  // (each PerfData is also held by its instance's value).
  EXPECT_EQ(services.refs, 1u);
  EXPECT_EQ(instances.refs, 1u);
  EXPECT_EQ(first.refs, 1u);
  EXPECT_EQ(second.refs, 1u);
  EXPECT_EQ(firstData.refs, 2u);
  EXPECT_EQ(secondData.refs, 2u);
}

TEST_F(DiskPollTest, InstancesWithoutUsablePerfDataAddNothingAndThePollGoesOn) {
  FakeClassObject failingGet, noObject, refusing, good, goodData;
  FakeOtherObject other;
  failingGet.getResult = static_cast<HRESULT>(WBEM_E_NOT_FOUND);
  noObject.getValue.vt = VT_I4;  // a value, but no object
  noObject.getValue.lVal = 5;
  Embed(refusing, other);
  goodData.WithInteger(L"ReadCount", 7).WithInteger(L"WriteCount", 3);
  Embed(good, goodData);
  instances.instances = {&failingGet, &noObject, &refusing, &good};

  std::string output;
  EXPECT_EQ(Poll(output), 10);
  EXPECT_EQ(output, "\tReadCount\t= 7\n\tWriteCount\t= 3\n");
  EXPECT_EQ(counterScale.readTotal, 7u);
  EXPECT_EQ(counterScale.writeTotal, 3u);
  EXPECT_EQ(failingGet.refs, 1u);
  EXPECT_EQ(noObject.refs, 1u);
  EXPECT_EQ(refusing.refs, 1u);
  EXPECT_EQ(other.refs, 2u);  // the test's and the value's: the refused query took none
  EXPECT_EQ(good.refs, 1u);
  EXPECT_EQ(goodData.refs, 2u);
}

TEST_F(DiskPollTest, AWalkThatCannotStartAddsNothingButIsStillEnded) {
  FakeClassObject instance, perfData;
  perfData.WithInteger(L"ReadCount", 50);
  perfData.beginResult = static_cast<HRESULT>(WBEM_E_FAILED);
  Embed(instance, perfData);
  instances.instances = {&instance};

  std::string output;
  EXPECT_EQ(Poll(output), 0);
  EXPECT_EQ(output, "");
  EXPECT_TRUE(perfData.nextFlags.empty());
  EXPECT_EQ(perfData.endCalls, 1);
  EXPECT_EQ(perfData.refs, 2u);
}

TEST_F(DiskPollTest, AnyNonZeroResultEndsTheWalkAndTheEnumerationNormally) {
  FakeClassObject instance, perfData;
  perfData.WithInteger(L"ReadCount", 8).WithInteger(L"WriteCount", 4);
  perfData.endOfDataResult = static_cast<HRESULT>(WBEM_E_FAILED);
  instances.endOfDataResult = static_cast<HRESULT>(WBEM_E_TRANSPORT_FAILURE);
  Embed(instance, perfData);
  instances.instances = {&instance};

  std::string output;
  EXPECT_EQ(Poll(output), 12);
  EXPECT_EQ(output, "\tReadCount\t= 8\n\tWriteCount\t= 4\n");
  EXPECT_EQ(counterScale.prevReadTotal, 8u);  // the poll completed
  EXPECT_EQ(instances.refs, 1u);
}

TEST_F(DiskPollTest, LaterPollsScaleTheChange) {
  FakeClassObject instance, perfData;
  perfData.WithInteger(L"ReadCount", 1000).WithInteger(L"WriteCount", 500);
  Embed(instance, perfData);
  instances.instances = {&instance};
  std::string output;
  Poll(output);

  FakeInstanceEnum again;
  services.instanceEnum = &again;
  perfData.properties[0].value.lVal = 1100;
  perfData.properties[1].value.lVal = 550;
  again.instances = {&instance};
  EXPECT_EQ(Poll(output), 1650);
  EXPECT_EQ(Fields(counterScale),
            (std::array<std::uint32_t, 11>{1100, 550, 1100, 550, 100, 50, 100, 50, 15, 15, 1650}));
}

// Each poll enumerates the disks anew; the set may change between polls.
TEST_F(DiskPollTest, AnInstanceMissingForOnePollMeasuresNothingAndKeepsTheScale) {
  FakeClassObject disk0, disk1, disk2, data0, data1, data2;
  disk0.WithText(L"InstanceName", L"IDE\\Disk0_0");
  disk1.WithText(L"InstanceName", L"IDE\\Disk1_0");
  disk2.WithText(L"InstanceName", L"IDE\\Disk2_0");
  // A DeviceName in PerfData is only printed: it names no disk.
  data0.WithText(L"DeviceName", L"same").WithInteger(L"ReadCount", 0).WithInteger(L"WriteCount", 0);
  data1.WithText(L"DeviceName", L"same").WithInteger(L"ReadCount", 400000).WithInteger(L"WriteCount", 9);
  data2.WithText(L"DeviceName", L"same").WithInteger(L"ReadCount", 0).WithInteger(L"WriteCount", 0);
  Embed(disk0, data0);
  Embed(disk1, data1);
  Embed(disk2, data2);

  struct Tick {
    LONG disk0Reads;
    std::vector<FakeClassObject*> disks;
    std::uint32_t readDelta, readHeight;
  };
  const Tick ticks[] = {
      {600000, {&disk0, &disk1}, 0, 0},    {600100, {&disk0, &disk1}, 100, 15},
      {600200, {&disk0, &disk1}, 100, 15}, {600300, {&disk0}, 0, 0},          // Harddisk1 missing from this poll
      {600400, {&disk0, &disk1}, 0, 0},                                       // and back
      {600500, {&disk0, &disk1}, 100, 15}, {600600, {&disk0, &disk2}, 0, 0},  // as many disks, another one of them
      {600650, {&disk0, &disk2}, 50, 7},
  };
  std::string output;
  for (const Tick& tick : ticks) {
    SCOPED_TRACE(testing::Message() << "disk 0 reads " << tick.disk0Reads);
    data0.properties[1].value.lVal = tick.disk0Reads;
    FakeInstanceEnum enumeration;
    enumeration.instances.assign(tick.disks.begin(), tick.disks.end());
    services.instanceEnum = &enumeration;
    Poll(output);
    EXPECT_EQ(counterScale.readDelta, tick.readDelta);
    EXPECT_EQ(counterScale.readHeight, tick.readHeight);
    EXPECT_EQ(counterScale.readMax, tick.readDelta == 0 && tick.disk0Reads == 600000 ? 0u : 100u);
    EXPECT_EQ(counterScale.writeHeight, 0u);
  }
  // A PerfData that cannot be read takes its disk out of the set too.
  FakeInstanceEnum enumeration;
  disk1.getResult = static_cast<HRESULT>(WBEM_E_NOT_FOUND);
  enumeration.instances = {&disk0, &disk1};
  services.instanceEnum = &enumeration;
  data0.properties[1].value.lVal = 600700;
  Poll(output);
  EXPECT_EQ(counterScale.readDelta, 0u);
  EXPECT_EQ(counterScale.readMax, 100u);
}

BSTR WINAPI RefuseAllocation(const OLECHAR*) {
  return nullptr;
}

TEST_F(DiskPollTest, WithoutMemoryThePollReturnsTheLastSampleAndChangesNothing) {
  counterScale = MidRunScale();
  const WmiConnectCalls saved = wmiConnectCalls;
  wmiConnectCalls.sysAllocString = RefuseAllocation;
  std::string output;
  const ActivitySample sample = Poll(output);
  wmiConnectCalls = saved;
  EXPECT_EQ(sample, 2200) << "any other value shows as activity in the symbol and char styles";
  EXPECT_EQ(output, "Out of memory\n");
  EXPECT_EQ(Fields(counterScale), Fields(MidRunScale()));
  EXPECT_TRUE(services.enumClasses.empty());
}

TEST_F(DiskPollTest, NoInstancesIsACompletedPollWithZeroTotals) {
  counterScale = MidRunScale();
  std::string output;
  EXPECT_EQ(Poll(output), 0);
  EXPECT_EQ(output, "");
  EXPECT_EQ(counterScale.readTotal, 0u);
  EXPECT_EQ(counterScale.writeTotal, 0u);
  EXPECT_EQ(counterScale.prevReadTotal, 0u);
  EXPECT_EQ(counterScale.prevWriteTotal, 0u);
  EXPECT_EQ(counterScale.lastSample, 0u);
  EXPECT_EQ(instances.refs, 1u);
}

TEST_F(DiskPollTest, AFailedEnumerationReturnsTheLastSampleAndOnlyResetsTheTotals) {
  counterScale = MidRunScale();
  services.enumResult = static_cast<HRESULT>(WBEM_E_INVALID_CLASS);

  std::string output;
  EXPECT_EQ(Poll(output), 2200);
  EXPECT_EQ(output, "Can't enumerate DiskPerf instances!\n");
  CounterScale expected = MidRunScale();
  expected.readTotal = 0;
  expected.writeTotal = 0;
  EXPECT_EQ(Fields(counterScale), Fields(expected));
  EXPECT_EQ(services.refs, 1u);
  EXPECT_TRUE(instances.nextCalls.empty());
}

// WMI stopped answering in the middle of the disks: the ones already
// counted must not be scaled as a poll of their own.
TEST_F(DiskPollTest, AnEnumerationThatTimesOutIsAFailedPoll) {
  counterScale = MidRunScale();
  FakeClassObject instance, perfData;
  perfData.WithInteger(L"ReadCount", 1400).WithInteger(L"WriteCount", 650);
  Embed(instance, perfData);
  instances.instances = {&instance};
  instances.endOfDataResult = static_cast<HRESULT>(WBEM_S_TIMEDOUT);

  std::string output;
  EXPECT_EQ(Poll(output), 2200);
  EXPECT_EQ(output, "\tReadCount\t= 1400\n\tWriteCount\t= 650\nDiskPerf instances timed out!\n");
  EXPECT_FALSE(lastPollCompleted);
  CounterScale expected = MidRunScale();
  expected.readTotal = 1400;
  expected.writeTotal = 650;
  EXPECT_EQ(Fields(counterScale), Fields(expected));
  EXPECT_EQ(instances.refs, 1u);
  EXPECT_EQ(instances.nextCalls.back().first, INSTANCE_WAIT_MS);
}

TEST_F(DiskPollTest, WithoutAConnectionThePollReturnsTheLastSampleAndChangesNothing) {
  counterScale = MidRunScale();
  StdoutCapture capture;
  EXPECT_EQ(PollDiskCounters(nullptr), 2200);
  EXPECT_EQ(capture.Take(), "");
  EXPECT_EQ(Fields(counterScale), Fields(MidRunScale()));
}

// Wine's WMI knows root\WMI but has no MSDiskDriver_Performance instances.
TEST(DiskPollWineTest, WinesWmiGivesACompletedPollWithZeroTotals) {
  ASSERT_GE(CoInitialize(nullptr), 0);
  {
    Microsoft::WRL::ComPtr<IWbemLocator> locator;
    ASSERT_EQ(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                               reinterpret_cast<void**>(locator.GetAddressOf())),
              S_OK);
    Microsoft::WRL::ComPtr<IWbemServices> wmi;
    BSTR path = SysAllocString(L"root\\WMI");
    const HRESULT connected = locator->ConnectServer(path, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &wmi);
    SysFreeString(path);
    ASSERT_EQ(connected, S_OK);

    counterScale = MidRunScale();
    StdoutCapture capture;
    EXPECT_EQ(PollDiskCounters(wmi.Get()), 0);
    EXPECT_EQ(capture.Take(), "");
    EXPECT_EQ(counterScale.lastSample, 0u);  // completed, not the failure's last sample
    EXPECT_EQ(counterScale.prevReadTotal, 0u);
    EXPECT_EQ(counterScale.prevWriteTotal, 0u);
  }
  CoUninitialize();
}

}  // namespace

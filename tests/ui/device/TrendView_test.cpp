// The trend view control, opened as the DTM's function 2 by the frame, with the real DTM online to
// the simulated transmitter over the frame's channel and the chart stand-in recording what it is
// told. The clock is the fake one: the DTM's cyclic reads and the wire's delays move only when the
// test moves it, so the samples are checked against the time that passed.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frame/ActiveXHost.h"
#include "frame/FrameHost.h"
#include "frame/SimulatedDevice.h"
#include "frame/TransferSession.h"
#include "frame/controls/OutsideControls.h"
#include "include/ProgramIds.h"
#include "tests/support/dtm_user_interface.h"
#include "tests/support/kept_picture.h"
#include "tests/support/live_page_host.h"
#include "tests/support/stub_base_dtm.h"
#include "tests/support/stub_dispatch.h"
#include "tests/support/temp_files.h"
#include "tests/support/threading.h"
#include "ui/device/TrendView.h"
#include "ui/device/kit/Kit.h"

namespace {

using namespace vkr::dui;
using vkr::frame::ChartState;
using vkr::frame::FrameChannel;

constexpr LONG kTrendFunction = 2;
constexpr DWORD kStep = 50;  // ms of fake time per step

class LiveTrend : public vkr::test::LivePageHostTest {
 protected:
  void SetUp() override {
    // The fake clock before anything sets a timer; time runs with the test's thread while the DTM
    // comes up and goes online.
    clock_ = std::make_unique<vkr::test::FakeTickCount>(100000);
    vkr::test::FakeClockDriver driver;
    ASSERT_NO_FATAL_FAILURE(StartSession());
    ASSERT_NO_FATAL_FAILURE(RegisterTrend<CTrendView>());
    dtm = session_->Dtm();
    ASSERT_EQ(vkr::test::ui::GoOnline(dtm), S_OK);
    ASSERT_TRUE(vkr::test::PumpUntil([&] { return vkr::test::ui::DtmState(dtm) == dsONLINE; }, 20000));
  }

  void TearDown() override {
    {
      vkr::test::FakeClockDriver driver;
      if (session_ && session_->Dtm()) {
        session_->Channel()->faults.clear();
        device_->ClearFaults();
        session_->Frame()->activeX.CloseAll();
        vkr::ui::PumpUntilIdle();
      }
      LivePageHostTest::TearDown();
    }
    vkr::test::DrainQueue();
    clock_.reset();
  }

  // The trend view class of this program (T), so that the test reaches its object.
  template <class T>
  void RegisterTrend() {
    if (cookie_) CoRevokeClassObject(cookie_);
    vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<T>>> factory;
    ASSERT_EQ(vkr::MakeObject<vkr::ClassFactory<T>>(&factory), S_OK);
    ASSERT_EQ(CoRegisterClassObject(CLSID_TrendView, static_cast<IClassFactory*>(factory.Get()), CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &cookie_),
              S_OK);
  }
  void BackOnline() {
    ASSERT_EQ(vkr::test::ui::GoOnline(dtm), S_OK);
    ASSERT_TRUE(RunUntil([&] { return vkr::test::ui::DtmState(dtm) == dsONLINE; }, 10000));
  }

  // Moves the fake clock in steps, letting the threads do what became due after each.
  void Run(DWORD ms) {
    for (DWORD passed = 0; passed < ms; passed += kStep) Step();
  }
  void Step() {
    clock_->Advance(kStep);
    vkr::test::PumpUntilQuiet();
  }
  // Steps until done() holds, at most `ms` of fake time; the fake time it took, or nothing.
  std::optional<DWORD> RunUntil(const std::function<bool()>& done, DWORD ms) {
    for (DWORD passed = 0; passed <= ms; passed += kStep) {
      if (done()) return passed;
      Step();
    }
    return std::nullopt;
  }

  // Opens the DTM's function 2 as a frame application does; the control, with its invoke id. With
  // `settle`, time passes until the tag and the sensor limit the start asked for have come.
  template <class T = CTrendView>
  T* Open(std::string* invokeId = nullptr, bool settle = true) {
    VARIANT_BOOL opened = VARIANT_FALSE;
    const vkr::Bstr call(vkr::frame::FunctionCallDocument(kTrendFunction));
    EXPECT_EQ(session_->Frame()->OpenActiveXControl(vkr::Bstr(u"VKR-1"), call, &opened), S_OK);
    vkr::ui::PumpUntilIdle();
    if (!opened) return nullptr;
    const auto& open = session_->Frame()->activeX.OpenControls().back();
    if (invokeId) *invokeId = open.invokeId;
    vkr::ComPtr<ISomeInterface> some;
    if (FAILED(open.control->QueryInterface(ISomeInterface::iid, some.PutVoid()))) return nullptr;
    T* trend = dynamic_cast<T*>(some.Get());
    if (trend && settle) {
      EXPECT_TRUE(RunUntil([&] { return Text(trend, kTrendTag) != kLoadingText; }, 5000));
      Run(500);
    }
    return trend;
  }
  // Opened and started at one second with the pens, its first sample in; null when any of that
  // failed.
  CTrendView* OpenRunning(std::vector<int> pens, std::string* invokeId = nullptr) {
    CTrendView* trend = Open(invokeId);
    if (!trend) return nullptr;
    Start(trend, std::move(pens), "1 Sec.");
    if (!trend->IsRunning() || !RunUntil([&] { return Samples(trend, 1) == 1; }, 3000)) return nullptr;
    return trend;
  }
  // The device's PV set, the fake time until the trend's next sample of pen 1 came.
  std::optional<DWORD> NextSample(CTrendView* trend, float pv) {
    device_->config.pv = pv;
    const std::size_t before = Samples(trend, 1);
    return RunUntil([&] { return Samples(trend, 1) > before; }, 3000);
  }
  void AddChannelFault(FrameChannel::FaultKind kind, int command) {
    FrameChannel::Fault f;
    f.kind = kind;
    f.command = command;
    session_->Channel()->faults.push_back(f);
  }
  bool Close(const std::string& invokeId) {
    VARIANT_BOOL closed = VARIANT_FALSE;
    EXPECT_EQ(session_->Frame()->CloseActiveXControl(vkr::Bstr(vkr::Utf8ToUtf16(invokeId)), &closed), S_OK);
    vkr::ui::PumpUntilIdle();
    return closed != VARIANT_FALSE;
  }

  static HWND Item(CTrendView* trend, UINT id) { return GetDlgItem(trend->DialogWindow(), static_cast<int>(id)); }
  static std::string Text(CTrendView* trend, UINT id) { return vkr::ui::WindowText(Item(trend, id)); }
  static bool Enabled(CTrendView* trend, UINT id) { return IsWindowEnabled(Item(trend, id)) != FALSE; }
  static ChartState Chart(CTrendView* trend) {
    ChartState state;
    vkr::ComPtr<IUnknown> chart;
    EXPECT_EQ(GetDlgControl(trend->DialogWindow(), static_cast<int>(kTrendChart), IID_IUnknown, chart.PutVoid()), S_OK);
    EXPECT_TRUE(vkr::frame::GetChartState(chart.Get(), &state));
    return state;
  }
  static std::size_t Samples(CTrendView* trend, int pen) { return Chart(trend).samples[pen - 1].size(); }

  // A person's choice of pens (pen 1 is checked at the start) and rate (null: as it is), then Start.
  static void Start(CTrendView* trend, std::vector<int> pens, const char* rate) {
    for (int pen = 1; pen <= 5; ++pen) {
      const bool want = std::find(pens.begin(), pens.end(), pen) != pens.end();
      const bool checked = IsDlgButtonChecked(trend->DialogWindow(), static_cast<int>(kTrendPenChecks[pen - 1])) != 0;
      if (want != checked) {
        ASSERT_TRUE(vkr::ui::Click(Item(trend, kTrendPenChecks[pen - 1])));
      }
    }
    if (rate) {
      ASSERT_TRUE(vkr::ui::SelectItem(Item(trend, kTrendRateCombo), rate));
    }
    ASSERT_TRUE(vkr::ui::Click(Item(trend, kTrendStartStop)));
    vkr::ui::PumpUntilIdle();
    ASSERT_TRUE(trend->IsRunning());
  }

  int Received(int command) const {
    int n = 0;
    for (const auto& r : device_->received) n += r.command == command;
    return n;
  }
  ULONG Counter() const {
    vkr::Variant value = vkr::test::ui::ParameterValue(dtm, static_cast<ULONG>(kParOnlineAxCounter));
    LONG n = -1;
    return CovFDT_BaseActiveXImpl::ReadNumber(value, &n) ? static_cast<ULONG>(n) : 0xFFFFFFFF;
  }
  // The loop current the device reports for its PV.
  float LoopCurrent() const {
    const auto reply = device_->Execute(3, {});
    device_->received.pop_back();
    return *CByteReader(reply.data).Float(0);
  }

  std::unique_ptr<vkr::test::FakeTickCount> clock_;
  IUnknown* dtm = nullptr;
};

std::string Fixed3(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3f", v);
  return text;
}

// The DTM's parameter interface with the read of command 14 failing: the trend view's start meets
// a DTM that cannot read the device's sensor limit.
class ParameterStubs : public vkr::Implements<IovFdtParameterHandler4> {
 public:
  VKR_TEST_DISPATCH
  VKR_STUB_PARAMETER_HANDLER
};
class FailingLimitRead : public ParameterStubs {
 public:
  vkr::ComPtr<IovFdtParameterHandler4> real;
  HRESULT ReadDeviceParameter(VARIANT id, VARIANT_BOOL* done) override {
    if (id.vt == VT_UI4 && id.ulVal == static_cast<ULONG>(kParCommand14Complete)) return E_FAIL;
    return real->ReadDeviceParameter(id, done);
  }
};
// A trend view whose start reads through it; Restore gives it the DTM's own interface back.
class CTrendViewFailingRead : public CTrendView {
 public:
  HRESULT InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) override {
    const HRESULT hr = CTrendView::InitializeUI(dtm, ok);
    if (SUCCEEDED(hr) && m_spDtm) {
      vkr::ComPtr<vkr::ComObject<FailingLimitRead>> failing;
      EXPECT_EQ(vkr::MakeObject<FailingLimitRead>(&failing), S_OK);
      failing->real = m_spDtm;
      m_real = m_spDtm;
      m_spDtm = vkr::ComPtr<IovFdtParameterHandler4>(static_cast<IovFdtParameterHandler4*>(failing.Get()));
    }
    return hr;
  }
  void Restore() {
    if (m_real) m_spDtm = m_real;
    m_real = nullptr;
  }

 private:
  vkr::ComPtr<IovFdtParameterHandler4> m_real;
};

// The start: pen 1 only, the combo at "10 Sec.", the header with the device's tag, counted online.
// Started with pens 1, 4 and 5 at one second, the trend samples command 3 once a second into the
// chart (each sample one second after the last, none before), shows the latest values and units,
// and plots on the pens' ranges (pens 1 and 2 from the sensor limit of command 14; a limit of 0.0
// gives 18.5). Stop clears the fields, gives the selection back and stops reading the device; a
// command 3 answer after Stop is no sample.
TEST_F(LiveTrend, SamplesTheDeviceValuesAtItsRateIntoTheChart) {
  for (float limit : {0.0f, 12.0f}) {
    SCOPED_TRACE(limit);
    device_->config.lowerSensorLimit = limit;
    std::string id;
    CTrendView* trend = Open(&id);
    ASSERT_TRUE(trend);
    EXPECT_EQ(Text(trend, kTrendTag), "LT-101  ");
    EXPECT_EQ(Text(trend, kTrendName), "Brevant Guided Radar (VKR)");
    EXPECT_EQ(Text(trend, kTrendRateCombo), "10 Sec.");
    EXPECT_EQ(trend->SamplingRate(), 10000u);
    EXPECT_EQ(trend->PenMask(), 1);
    EXPECT_TRUE(trend->IsCountedOnline());
    EXPECT_EQ(Counter(), 1u);

    Start(trend, {1, 4, 5}, "1 Sec.");
    ChartState chart = Chart(trend);
    EXPECT_EQ(chart.interval, 1000);
    EXPECT_TRUE(chart.running);
    EXPECT_EQ(std::vector<bool>(chart.visible, chart.visible + 5), (std::vector<bool>{true, false, false, true, true}));
    EXPECT_EQ(Text(trend, kTrendStartStop), "Stop");
    for (UINT check : kTrendPenChecks) EXPECT_FALSE(Enabled(trend, check));
    EXPECT_FALSE(Enabled(trend, kTrendRateCombo));
    EXPECT_FALSE(Enabled(trend, kTrendRateLabel));

    const int reads = Received(3);
    std::vector<DWORD> times;
    DWORD now = 0;
    for (float pv : {2.5f, 4.75f, 1.25f}) {
      const std::optional<DWORD> took = NextSample(trend, pv);
      ASSERT_TRUE(took);
      now += *took;
      times.push_back(now);
      EXPECT_EQ(Chart(trend).samples[0].back(), static_cast<double>(pv));
      EXPECT_EQ(Text(trend, kTrendPenValues[0]), Fixed3(pv));
      EXPECT_EQ(Text(trend, kTrendPenValues[4]), Fixed3(LoopCurrent()));
    }
    // One read a second; the first a second after Start (the wire's delay on top).
    EXPECT_EQ(Received(3) - reads, 3);
    EXPECT_GE(times[0], 1000u);
    EXPECT_LE(times[0], 1500u);
    EXPECT_NEAR(static_cast<double>(times[1] - times[0]), 1000.0, 3.0 * kStep);
    EXPECT_NEAR(static_cast<double>(times[2] - times[1]), 1000.0, 3.0 * kStep);

    chart = Chart(trend);
    EXPECT_EQ(chart.samples[0], (std::vector<double>{2.5, 4.75, 1.25}));
    EXPECT_TRUE(chart.samples[1].empty());
    EXPECT_TRUE(chart.samples[2].empty());
    EXPECT_EQ(chart.samples[3], (std::vector<double>(3, static_cast<double>(41.7f))));
    ASSERT_EQ(chart.samples[4].size(), 3u);
    EXPECT_EQ(chart.samples[4].back(), static_cast<double>(LoopCurrent()));
    EXPECT_EQ(Text(trend, kTrendPenUnits[0]), "Metres (m)");
    EXPECT_EQ(Text(trend, kTrendPenValues[3]), "41.700");
    EXPECT_EQ(Text(trend, kTrendPenUnits[3]), "Percent (%)");
    EXPECT_EQ(Text(trend, kTrendPenUnits[4]), "mA");
    EXPECT_EQ(Text(trend, kTrendPenValues[1]), "");
    EXPECT_EQ(Text(trend, kTrendPenUnits[1]), "");
    const double sensor = limit == 0.0f ? 18.5 : static_cast<double>(limit);
    EXPECT_EQ(chart.minimum[0], 0.0);
    EXPECT_EQ(chart.maximum[0], sensor);
    EXPECT_EQ(chart.minimum[3], 225.0);
    EXPECT_EQ(chart.maximum[3], 360.0);
    EXPECT_EQ(chart.minimum[4], 0.0);
    EXPECT_EQ(chart.maximum[4], 22.0);
    EXPECT_FLOAT_EQ(trend->PenMaximum(1), static_cast<float>(sensor));

    ASSERT_TRUE(vkr::ui::Click(Item(trend, kTrendStartStop)));
    vkr::ui::PumpUntilIdle();
    EXPECT_FALSE(trend->IsRunning());
    EXPECT_EQ(Text(trend, kTrendStartStop), "Start");
    for (std::size_t i = 0; i < kTrendPenCount; ++i) {
      EXPECT_EQ(Text(trend, kTrendPenValues[i]), "");
      EXPECT_EQ(Text(trend, kTrendPenUnits[i]), "");
      EXPECT_TRUE(Enabled(trend, kTrendPenChecks[i]));
    }
    EXPECT_TRUE(Enabled(trend, kTrendRateCombo));
    const int stopped = Received(3);
    Run(4000);
    EXPECT_EQ(Received(3), stopped);
    vkr::Variant late;
    ASSERT_EQ(MakeByteArray(std::vector<BYTE>(24, 0x41), late.Put()), S_OK);
    EXPECT_EQ(trend->SetControlValueById(kParCommand3Complete, late), S_OK);
    EXPECT_EQ(Chart(trend).samples[0].size(), 3u);
    EXPECT_EQ(Text(trend, kTrendPenValues[0]), "");

    // The last online user interface closed: the DTM goes offline.
    ASSERT_TRUE(Close(id));
    EXPECT_EQ(Counter(), 0u);
    EXPECT_TRUE(RunUntil([&] { return vkr::test::ui::DtmState(dtm) == dsCOMMUNICATIONSET; }, 10000));
    ASSERT_NO_FATAL_FAILURE(BackOnline());
  }
}

// Faults of the cyclic command 3: the wire without an answer, the channel busy, the device busy,
// answers cut short. A read that fails is said on the message line and changes no value and no
// sample; a short answer updates what it holds (9 bytes: pen 1 and pen 5; 8 bytes: pen 5 only, pen
// 1's unit staying with its value). Each time the next good read brings the trend back and clears
// the message.
TEST_F(LiveTrend, Command3FaultsAreSaidAndTheTrendGoesOn) {
  CTrendView* trend = OpenRunning({1, 5});
  ASSERT_TRUE(trend);

  // The device's next answer to command 3: silent, with a response code, or cut short.
  auto answer = [this](bool silent, std::optional<BYTE> response, std::optional<std::size_t> keep) {
    return [=, this] {
      vkr::frame::CommandFault f;
      f.command = 3;
      f.silent = silent;
      f.commandResponse = response;
      f.truncateTo = keep;
      device_->InjectFault(f);
    };
  };
  auto channelBusy = [this] { AddChannelFault(FrameChannel::FaultKind::CommunicationError, 3); };
  const struct {
    const char* name;
    std::function<void()> inject;
    bool fails;
    std::size_t pen1, pen5;  // samples the faulty answer adds
    const char* unit1;       // pen 1's unit after it
  } cases[] = {
      {"no answer", answer(true, std::nullopt, std::nullopt), true, 0, 0, "Metres (m)"},
      {"channel busy", channelBusy, true, 0, 0, "Metres (m)"},
      {"device busy", answer(false, vkr::frame::hart::kBusy, std::nullopt), true, 0, 0, "Metres (m)"},
      {"9 bytes", answer(false, std::nullopt, 9), false, 1, 1, "Feet (ft)"},
      {"8 bytes", answer(false, std::nullopt, 8), false, 0, 1, "Metres (m)"},
  };
  float pv = 2.5f;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t pen1 = Samples(trend, 1), pen5 = Samples(trend, 5);
    const std::string value1 = Text(trend, kTrendPenValues[0]);
    device_->config.pvUnit = 44;  // feet: shows where an answer's unit arrived
    pv += 1.0f;
    device_->config.pv = pv;
    const int reads = Received(3);
    c.inject();
    if (c.fails) {
      ASSERT_TRUE(RunUntil([&] { return !Text(trend, kTrendMessage).empty(); }, 30000));
      // The pens sampled are named, and their values are no longer the device's word.
      EXPECT_EQ(Text(trend, kTrendMessage).rfind("Primary Variable and Analog Value could not be read: ", 0), 0u)
          << Text(trend, kTrendMessage);
      EXPECT_EQ(Samples(trend, 1), pen1);
      EXPECT_EQ(Samples(trend, 5), pen5);
      EXPECT_EQ(Text(trend, kTrendPenValues[0]), "Not read");
      EXPECT_EQ(Text(trend, kTrendPenValues[4]), "Not read");
    } else {
      ASSERT_TRUE(RunUntil([&] { return Samples(trend, 5) > pen5; }, 3000));
      Run(200);
      EXPECT_EQ(Samples(trend, 1), pen1 + c.pen1);
      EXPECT_EQ(Samples(trend, 5), pen5 + c.pen5);
      EXPECT_EQ(Text(trend, kTrendPenValues[0]), c.pen1 ? Fixed3(pv) : value1);
      EXPECT_EQ(Text(trend, kTrendMessage), "");
    }
    EXPECT_EQ(Text(trend, kTrendPenUnits[0]), c.unit1);
    EXPECT_TRUE(trend->IsRunning());

    // The next read is whole again.
    device_->config.pvUnit = 45;
    const std::size_t now = Samples(trend, 1);
    ASSERT_TRUE(RunUntil([&] { return Samples(trend, 1) > now; }, 15000));
    EXPECT_GT(Received(3), reads);
    EXPECT_EQ(Chart(trend).samples[0].back(), static_cast<double>(pv));
    EXPECT_EQ(Text(trend, kTrendPenUnits[0]), "Metres (m)");
    EXPECT_EQ(Text(trend, kTrendMessage), "");
  }
}

// The roads out while the trend runs. Closed by the frame with a second trend view open: the
// device is read no more, the count goes down by one and the DTM stays online; the second one
// closed takes the DTM offline. A trend view that never started is released without touching
// the count. The DTM released under a running trend: no more reads, and the control closes after.
// The channel aborted in the middle: the DTM goes offline under the trend, which closes cleanly.
TEST_F(LiveTrend, EveryRoadOutStopsTheCyclicRead) {
  std::string first, second;
  CTrendView* stays = Open(&first);
  ASSERT_TRUE(stays);
  CTrendView* running = OpenRunning({1}, &second);
  ASSERT_TRUE(running);
  EXPECT_EQ(Counter(), 2u);

  // A trend view whose start failed (a function call it cannot read), released all the same.
  {
    vkr::ComPtr<IUnknown> made;
    ASSERT_EQ(vkr::CreateObject<CTrendView>(nullptr, IID_IUnknown, made.PutVoid()), S_OK);
    vkr::ComPtr<ISomeInterface> some;
    ASSERT_EQ(made->QueryInterface(ISomeInterface::iid, some.PutVoid()), S_OK);
    CTrendView* failed = dynamic_cast<CTrendView*>(some.Get());
    ASSERT_TRUE(failed);
    vkr::ComPtr<IDtm> idtm;
    ASSERT_EQ(dtm->QueryInterface(IDtm::iid, idtm.PutVoid()), S_OK);
    VARIANT_BOOL ok = VARIANT_TRUE;
    failed->Init(vkr::Bstr(u"broken"), vkr::Bstr(u"<not a function call"), idtm.Get(), &ok);
    EXPECT_FALSE(ok);
    VARIANT_BOOL released = VARIANT_FALSE;
    EXPECT_EQ(failed->PrepareToRelease(&released), S_OK);
    Run(200);
    EXPECT_EQ(Counter(), 2u);
  }

  ASSERT_TRUE(Close(second));
  const int reads = Received(3);
  Run(5000);
  EXPECT_EQ(Received(3), reads);
  EXPECT_EQ(Counter(), 1u);
  EXPECT_EQ(vkr::test::ui::DtmState(dtm), dsONLINE);
  ASSERT_TRUE(Close(first));
  EXPECT_EQ(Counter(), 0u);
  EXPECT_TRUE(RunUntil([&] { return vkr::test::ui::DtmState(dtm) == dsCOMMUNICATIONSET; }, 10000));

  // The channel aborts in the middle of the cyclic reads.
  ASSERT_NO_FATAL_FAILURE(BackOnline());
  CTrendView* aborted = OpenRunning({1, 5}, &first);
  ASSERT_TRUE(aborted);
  AddChannelFault(FrameChannel::FaultKind::Abort, 3);
  EXPECT_TRUE(RunUntil([&] { return vkr::test::ui::DtmState(dtm) != dsONLINE; }, 10000));
  Run(3000);
  EXPECT_EQ(Samples(aborted, 1), 1u);
  ASSERT_TRUE(Close(first));
  EXPECT_EQ(Counter(), 0u);

  // The DTM released under a running trend.
  if (vkr::test::ui::DtmState(dtm) != dsONLINE) {
    ASSERT_NO_FATAL_FAILURE(BackOnline());
  }
  ASSERT_TRUE(OpenRunning({1}, &first));
  {
    vkr::test::FakeClockDriver driver;
    EXPECT_EQ(session_->Close(), S_OK);
  }
  const int released = Received(3);
  Run(5000);
  EXPECT_EQ(Received(3), released);
  EXPECT_TRUE(session_->Frame()->activeX.OpenControls().empty());
}

// The DTM leaves the online state under a running trend, by the DTM's own go-offline and by the
// channel aborting the connection: the trend stops at once, not when its watchdog finds the
// values missing, says that the device is not connected, gives the selection back and reads the
// device no more; the tag says so too. Online again, Start runs it again.
TEST_F(LiveTrend, LeavingOnlineStopsTheTrendAtOnceAndSaysSo) {
  const struct {
    const char* road;
    std::function<void()> leave;
  } roads[] = {
      {"go offline", [&] { ASSERT_EQ(vkr::test::ui::GoOffline(dtm), S_OK); }},
      {"connection aborted", [&] { AddChannelFault(FrameChannel::FaultKind::Abort, 3); }},
  };
  for (const auto& r : roads) {
    SCOPED_TRACE(r.road);
    // (The last trend closed took the DTM offline.)
    ASSERT_TRUE(RunUntil(
        [&] { return vkr::test::ui::DtmState(dtm) == dsONLINE || vkr::test::ui::DtmState(dtm) == dsCOMMUNICATIONSET; },
        10000));
    if (vkr::test::ui::DtmState(dtm) != dsONLINE) {
      ASSERT_NO_FATAL_FAILURE(BackOnline());
    }
    std::string id;
    CTrendView* trend = OpenRunning({1, 5}, &id);
    ASSERT_TRUE(trend);
    r.leave();
    const std::optional<DWORD> took = RunUntil([&] { return vkr::test::ui::DtmState(dtm) != dsONLINE; }, 10000);
    ASSERT_TRUE(took);
    // Stopped by the state change itself: well within the watchdog's three periods.
    const std::optional<DWORD> stopped = RunUntil([&] { return !trend->IsRunning(); }, 2 * kStep);
    ASSERT_TRUE(stopped) << "still running after leaving online";
    EXPECT_LT(*took + *stopped, kTrendWatchdogMinimum);
    EXPECT_EQ(Text(trend, kTrendMessage), "The trend stopped: the device is not connected.");
    EXPECT_EQ(Text(trend, kTrendStartStop), "Start");
    EXPECT_EQ(Text(trend, kTrendTag), kNotConnectedText);
    EXPECT_TRUE(Enabled(trend, kTrendRateCombo));
    EXPECT_EQ(Text(trend, kTrendPenValues[0]), "");
    const int reads = Received(3);
    const std::size_t samples = Samples(trend, 1);
    Run(3000);
    EXPECT_EQ(Received(3), reads);
    EXPECT_EQ(Samples(trend, 1), samples);
    // Start without a device does not pretend to run.
    ASSERT_TRUE(vkr::ui::Click(Item(trend, kTrendStartStop)));
    vkr::ui::PumpUntilIdle();
    EXPECT_FALSE(trend->IsRunning());
    EXPECT_EQ(Text(trend, kTrendMessage), "The trend did not start: no device is connected.");
    // Back online, Start runs it again.
    ASSERT_EQ(vkr::test::ui::GoOnline(dtm), S_OK);
    const std::optional<DWORD> back = RunUntil([&] { return vkr::test::ui::DtmState(dtm) == dsONLINE; }, 30000);
    ASSERT_TRUE(back);
    ASSERT_TRUE(vkr::ui::Click(Item(trend, kTrendStartStop)));
    vkr::ui::PumpUntilIdle();
    EXPECT_TRUE(trend->IsRunning());
    EXPECT_TRUE(RunUntil([&] { return Samples(trend, 1) > samples; }, 15000));
    ASSERT_TRUE(Close(id));
  }
}

// Each sampling choice of the combo, chosen before Start: command 3 is read and a sample added once
// per chosen interval, the first one interval after Start, none in between (the wire's delay aside).
TEST_F(LiveTrend, EachSamplingChoiceSpacesTheSamplesByItsInterval) {
  const struct {
    const char* shown;
    DWORD ms;
  } choices[] = {{"1 Sec.", 1000}, {"2 Sec.", 2000}, {"5 Sec.", 5000}, {"7 Sec.", 7000}, {"10 Sec.", 10000}};
  CTrendView* trend = Open();
  ASSERT_TRUE(trend);
  for (const auto& c : choices) {
    SCOPED_TRACE(c.shown);
    Start(trend, {1}, c.shown);
    EXPECT_EQ(Chart(trend).interval, static_cast<LONG>(c.ms));
    const std::size_t before = Samples(trend, 1);
    const int reads = Received(3);
    std::vector<DWORD> gaps;
    for (std::size_t n = 1; n <= 3; ++n) {
      const std::optional<DWORD> took = RunUntil([&] { return Samples(trend, 1) == before + n; }, c.ms + 1000);
      ASSERT_TRUE(took) << "sample " << n << " did not come within " << c.ms + 1000 << " ms";
      gaps.push_back(*took);
      EXPECT_EQ(Received(3) - reads, static_cast<int>(n));
    }
    EXPECT_GE(gaps[0], c.ms);
    EXPECT_LE(gaps[0], c.ms + 500);
    EXPECT_NEAR(static_cast<double>(gaps[1]), static_cast<double>(c.ms), 3.0 * kStep);
    EXPECT_NEAR(static_cast<double>(gaps[2]), static_cast<double>(c.ms), 3.0 * kStep);
    ASSERT_TRUE(vkr::ui::Click(Item(trend, kTrendStartStop)));
    vkr::ui::PumpUntilIdle();
    ASSERT_FALSE(trend->IsRunning());
  }
}

// The running trend as a person sees it: header, pens with values and units, the rate, Stop.
TEST_F(LiveTrend, LooksAsKept) {
  CTrendView* trend = Open();
  ASSERT_TRUE(trend);
  Start(trend, {1, 2, 5}, "1 Sec.");
  for (float pv : {2.5f, 3.0f, 4.0f, 5.5f, 5.0f, 3.5f, 4.5f}) ASSERT_TRUE(NextSample(trend, pv));
  vkr::ui::PumpUntilIdle();
  vkr::test::ExpectLooksAsKept(session_->Frame()->activeX.OpenControls().back().window, "trend_view");
}

// A read of the start that fails ends the start early, with a trend that still works: its rate
// is the registry's "ProcessValueUpdate" (at least 50 ms) and the combo names it when it is one of
// its items, the pens plot on their own ranges, and it stays uncounted, so closing it leaves the
// DTM online.
TEST_F(LiveTrend, AFailedReadAtTheStartLeavesAWorkingUncountedTrend) {
  ASSERT_NO_FATAL_FAILURE(RegisterTrend<CTrendViewFailingRead>());
  // The device gives no sensor limit either: the control's other reads of command 14 (its first
  // read of every entry, and the one again when the DTM's word that it is online reaches it late)
  // would otherwise bring the limit in whenever they happen to be answered.
  vkr::frame::CommandFault noLimit;
  noLimit.command = 14;
  noLimit.commandResponse = 64;  // command not implemented
  noLimit.persistent = true;
  device_->InjectFault(noLimit);
  const struct {
    DWORD setting;
    const char* shown;
    ULONG rate;
  } cases[] = {{5000, "5 Sec.", 5000}, {10, "", 50}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.setting);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vorntec\\VKR Series DTM", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "ProcessValueUpdate", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&c.setting),
                             sizeof c.setting),
              ERROR_SUCCESS);
    RegCloseKey(key);

    std::string id;
    auto* trend = Open<CTrendViewFailingRead>(&id, false);
    ASSERT_TRUE(trend);
    trend->Restore();
    EXPECT_FALSE(trend->IsCountedOnline());
    EXPECT_EQ(Counter(), 0u);
    EXPECT_EQ(trend->SamplingRate(), c.rate);
    EXPECT_EQ(Text(trend, kTrendRateCombo), c.shown);
    EXPECT_EQ(SendMessageA(Item(trend, kTrendRateCombo), CB_GETCOUNT, 0, 0), 5);
    EXPECT_FLOAT_EQ(trend->PenMaximum(0), 18.5f);
    EXPECT_FLOAT_EQ(trend->PenMinimum(3), 225.0f);

    Start(trend, {1}, nullptr);
    EXPECT_EQ(Chart(trend).interval, static_cast<LONG>(c.rate));
    ASSERT_TRUE(RunUntil([&] { return Samples(trend, 1) == 2; }, 3 * c.rate + 2000));
    EXPECT_EQ(Chart(trend).maximum[0], 18.5);
    EXPECT_EQ(Chart(trend).minimum[0], 0.0);

    ASSERT_TRUE(Close(id));
    Run(2000);
    EXPECT_EQ(Counter(), 0u);
    EXPECT_EQ(vkr::test::ui::DtmState(dtm), dsONLINE);
  }
}

}  // namespace

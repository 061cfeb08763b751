// The serial line's hot paths against baselines measured in the same run:
//  - ModbusCrc16 against Boost.CRC's crc_optimal with the same parameters and the bitwise method;
//  - one poll round trip through ReadHoldingRegisters against libmodbus's modbus_read_registers,
//    the same libmodbus RTU server on the same pseudo-terminal pair;
//  - how long a poll of a silent slave takes to fail (one read deadline, 1000 ms).
// The round trip reports each side's median in microseconds and their ratio as counters.

#include <benchmark/benchmark.h>
#include <modbus.h>

#include <algorithm>
#include <array>
#include <boost/crc.hpp>
#include <chrono>
#include <memory>
#include <random>
#include <vector>

#include "comport/comport.h"
#include "comport/modbus_rtu.h"
#include "modbus_peers.h"

namespace {

using tarven::testing::PtyPair;
using tarven::testing::ServerPeer;

std::vector<std::uint8_t> RandomBytes(std::size_t size) {
  std::mt19937 random(7);
  std::vector<std::uint8_t> bytes(size);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
  return bytes;
}

std::uint16_t BitwiseCrc(const std::uint8_t* data, std::size_t length) {
  std::uint16_t crc = 0xFFFF;
  for (std::size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1U) != 0 ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(crc >> 1);
    }
  }
  return crc;
}

void CrcArguments(benchmark::internal::Benchmark* bench) {
  for (const int size : {8, 25, 256, 4096}) bench->Arg(size);
}

void BM_ModbusCrc16(benchmark::State& state) {
  const auto data = RandomBytes(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        tarven::comport::ModbusCrc16(data.data(), static_cast<std::uint16_t>(data.size())));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ModbusCrc16)->Apply(CrcArguments);

void BM_BoostCrcOptimal(benchmark::State& state) {
  const auto data = RandomBytes(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    boost::crc_optimal<16, 0x8005, 0xFFFF, 0, true, true> crc;
    crc.process_bytes(data.data(), data.size());
    benchmark::DoNotOptimize(crc.checksum());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BoostCrcOptimal)->Apply(CrcArguments);

void BM_BitwiseCrc(benchmark::State& state) {
  const auto data = RandomBytes(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(BitwiseCrc(data.data(), data.size()));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BitwiseCrc)->Apply(CrcArguments);

// One pair and one libmodbus server for every round-trip benchmark of the run.
struct Line {
  PtyPair pair;
  ServerPeer server{pair.theirs(), 1, {0, 0, 0, 1, 2, 0, 0, 0, 0, 0x0454}};
};
Line& SharedLine() {
  static Line line;
  return line;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2),
                   values.end());
  return values[values.size() / 2];
}

template <typename Poll>
bool Time(std::vector<double>& microseconds, Poll poll) {
  const auto start = std::chrono::steady_clock::now();
  const bool ok = poll();
  microseconds.push_back(
      std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  return ok;
}

// Our poll and libmodbus's, one after the other in every iteration, so that both meet the same
// load on the machine. Both hold the same end of the pair open at once (libmodbus takes no lock);
// each waits for its own reply before the other sends. An iteration's time is the two together;
// the counters give each one's median and their ratio.
void BM_PollRoundTrip_OursAndLibmodbus(benchmark::State& state) {
  Line& line = SharedLine();
  tarven::comport::ComPort port;
  if (!port.OpenComPort(line.pair.ours(), 57600)) {
    state.SkipWithError("cannot open the port");
    return;
  }
  modbus_t* context = modbus_new_rtu(line.pair.ours().c_str(), 57600, 'N', 8, 1);
  if (context == nullptr || modbus_set_slave(context, 1) != 0 || modbus_connect(context) != 0) {
    state.SkipWithError("libmodbus cannot open the port");
    if (context != nullptr) modbus_free(context);
    return;
  }
  std::vector<double> ours, theirs;
  std::array<std::uint8_t, 20> bytes{};
  std::array<std::uint16_t, 10> registers{};
  for (auto _ : state) {
    const bool ok_ours =
        Time(ours, [&] { return port.ReadHoldingRegisters(1, 0, 10, bytes.data()); });
    const bool ok_theirs =
        Time(theirs, [&] { return modbus_read_registers(context, 0, 10, registers.data()) == 10; });
    if (!ok_ours || !ok_theirs) {
      state.SkipWithError("no reply");
      break;
    }
  }
  modbus_close(context);
  modbus_free(context);
  port.CloseComPort();
  const double median_ours = Median(ours);
  const double median_theirs = Median(theirs);
  state.counters["ours_median_us"] = median_ours;
  state.counters["libmodbus_median_us"] = median_theirs;
  state.counters["ratio"] = median_theirs > 0 ? median_ours / median_theirs : 0;
}
BENCHMARK(BM_PollRoundTrip_OursAndLibmodbus)->UseRealTime()->MinTime(3.0);

void BM_SilentSlave(benchmark::State& state) {
  const PtyPair pair;  // nobody answers on the other end
  tarven::comport::ComPort port;
  if (!port.OpenComPort(pair.ours(), 57600)) {
    state.SkipWithError("cannot open the port");
    return;
  }
  std::array<std::uint8_t, 20> registers{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(port.ReadHoldingRegisters(1, 0, 10, registers.data()));
  }
  port.CloseComPort();
}
BENCHMARK(BM_SilentSlave)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

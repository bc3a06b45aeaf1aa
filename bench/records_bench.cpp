// Cost of GetVar and AddVar against the length of the record, and of
// building a 50-entry list reply.
#include <benchmark/benchmark.h>

#include <clocale>

#include "platform/posix/posix_env.h"
#include "plugin/records.h"

namespace {

using namespace pellory;

PosixEnv& Env() {
  static PosixEnv env;
  return env;
}

Text Name(int64_t i) { return u"Key" + IntegerText(i); }

// A record of `n` entries such as {Key7(S14)=value {7} = x}.
Text Record(int64_t n) {
  Text rd;
  for (int64_t i = 0; i < n; ++i) {
    AddVar(Env(), rd, Name(i), Variant(u"value {" + IntegerText(i) + u"} = x"));
  }
  return rd;
}

void PerEntry(benchmark::State& state) {
  state.SetComplexityN(state.range(0));
  state.counters["entries"] = static_cast<double>(state.range(0));
  // Seconds per iteration divided by the entry count: the time per entry.
  state.counters["per_entry"] = benchmark::Counter(
      static_cast<double>(state.range(0)),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Reads the last entry: the walk passes every entry before it.
void BM_GetVar(benchmark::State& state) {
  const Text rd = Record(state.range(0));
  const Text name = Name(state.range(0) - 1);
  for (auto _ : state) benchmark::DoNotOptimize(GetVar(Env(), rd, name));
  PerEntry(state);
}

// Replaces the last entry (it moves to the end again, so every call walks
// the whole record and rebuilds its tail).
void BM_AddVar(benchmark::State& state) {
  Text rd = Record(state.range(0));
  const Text name = Name(state.range(0) - 1);
  const Variant value(u"new {value}");
  for (auto _ : state) {
    AddVar(Env(), rd, name, value);
    benchmark::DoNotOptimize(rd.data());
  }
  PerEntry(state);
}

// Replaces the first entry: the removal shifts the rest of the record.
void BM_AddVarFirst(benchmark::State& state) {
  Text rd = Record(state.range(0));
  const Variant value(u"value {0} = x");
  int64_t next = 0;
  for (auto _ : state) {
    AddVar(Env(), rd, Name(next), value);
    next = (next + 1) % state.range(0);
    benchmark::DoNotOptimize(rd.data());
  }
  PerEntry(state);
}

// A list reply of 50 matches, each a list entry record of its own, as a list
// search builds it.
void BM_ListReply50(benchmark::State& state) {
  for (auto _ : state) {
    Text reply;
    for (int i = 1; i <= 50; ++i) {
      Text entry;
      AddVar(Env(), entry, u"Id", Variant(u"000101" + IntegerText(1000 + i)));
      AddVar(Env(), entry, u"Name", Variant(u"Smith, John " + IntegerText(i)));
      AddVar(Env(), entry, u"Company", Variant(u"Acme {Ltd} " + IntegerText(i)));
      AddVar(Env(), entry, u"Tel", Variant(u"+44 (0)1234 5678" + IntegerText(i)));
      AddVar(Env(), reply, u"List" + IntegerText(i), Variant(entry));
    }
    AddVar(Env(), reply, u"HasName", Variant(int32_t{1}));
    AddVar(Env(), reply, u"HasCompany", Variant(int32_t{1}));
    AddVar(Env(), reply, u"ListCount", Variant(int32_t{50}));
    AddVar(Env(), reply, u"Speed", Variant(0.125));
    AddVar(Env(), reply, u"Matches", Variant(int32_t{50}));
    AddVar(Env(), reply, u"Result", Variant(u"Success"));
    benchmark::DoNotOptimize(reply.data());
  }
}

BENCHMARK(BM_GetVar)->RangeMultiplier(10)->Range(10, 10000)->Complexity(benchmark::oN);
BENCHMARK(BM_AddVar)->RangeMultiplier(10)->Range(10, 10000)->Complexity(benchmark::oN);
BENCHMARK(BM_AddVarFirst)->RangeMultiplier(10)->Range(10, 10000)->Complexity(benchmark::oN);
BENCHMARK(BM_ListReply50);

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "C");
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

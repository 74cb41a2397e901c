// Times the numeric kernels alone, without Python: the cost matrix of one
// placement (in the form solve writes it), and its assignment on every
// instruction set this build has
// (the scalar route included, which is what a processor without a vector
// route runs). The workloads are the Python benchmark's, written out by
// bench/workloads.py (write_text).
//
//     kernel_bench WORKLOADS [SECONDS_PER_WORKLOAD]
//
// Every call of a workload places one team in the state the workload gives
// (its row cleared first), as the Python benchmark does. All routes place
// the same call one after another, in rotating order, so that they meet the
// same machine; each reports the median of its calls in microseconds. The
// routes must agree bit for bit; a disagreement ends the run with status 1.
// The last column times what a solve runs, cost matrix and assignment on
// the widest route together, call after call with nothing in between (the
// routes above find some of their code pushed out by the others).
#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <span>
#include <sstream>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "assign/assignment.hpp"
#include "assign/home_games.hpp"
#include "cost/cost_matrix.hpp"
#include "cost/team_slots.hpp"

using namespace tavelin;

namespace {

struct Workload {
    std::string name, fill;
    std::size_t n = 0;
    double p = 0;
    CostModel model;
    std::unordered_map<std::uint64_t, std::vector<double>> home;
    std::vector<double> x;
    std::vector<std::uint64_t> teams;
};

std::vector<Workload> read_workloads(const char* path) {
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "kernel_bench: cannot read %s\n", path);
        std::exit(2);
    }
    std::vector<Workload> out;
    std::string line;
    Workload w;
    ForbiddenSlotMap forbidden;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string key;
        fields >> key;
        std::size_t count = 0;
        if (key == "workload") {
            w = Workload{};
            forbidden.clear();
            std::int64_t m, p, r_max;
            fields >> w.name >> w.fill >> w.n >> m >> p >> r_max;
            w.model.m = static_cast<double>(m);
            w.p = static_cast<double>(p);
            w.model.r_max = r_max < 3 ? 2.0 : static_cast<double>(r_max);
        } else if (key == "penalties") {
            fields >> count;
            std::vector<std::int64_t> table(1, 0);
            for (std::size_t i = 0; i < count; ++i) {
                std::size_t gap;
                std::int64_t penalty;
                fields >> gap >> penalty;
                if (gap >= table.size()) table.resize(gap + 1, 0);
                table[gap] = penalty;
            }
            w.model.penalties = GapPenalties(table);
        } else if (key == "home") {
            std::uint64_t team;
            fields >> team >> count;
            std::vector<double>& slots = w.home[team];
            slots.resize(count);
            for (double& s : slots) fields >> s;
        } else if (key == "forbidden") {
            std::uint64_t team;
            fields >> team >> count;
            auto& keys = forbidden[team];
            for (std::size_t i = 0; i < count; ++i) {
                std::int64_t k;
                fields >> k;
                keys.insert(k);
            }
        } else if (key == "x") {
            w.x.resize(w.n * w.n);
            for (double& v : w.x) fields >> v;
        } else if (key == "teams") {
            fields >> count;
            w.teams.resize(count);
            for (std::uint64_t& t : w.teams) fields >> t;
        } else if (key == "end") {
            w.model.forbidden = ForbiddenSlots(std::move(forbidden));
            w.model.near = NearGaps(w.model.penalties, w.model.r_max);
            forbidden = {};
            out.push_back(std::move(w));
        }
        if (!fields && key != "end") {
            std::fprintf(stderr, "kernel_bench: malformed line: %.60s\n", line.c_str());
            std::exit(2);
        }
    }
    return out;
}

struct Named {
    Isa isa;
    const char* name;
};

constexpr Named kIsas[] = {
    {Isa::scalar, "scalar"}, {Isa::sse2, "sse2"}, {Isa::avx2, "avx2"}, {Isa::avx512, "avx512"}, {Isa::neon, "neon"}};

double median(std::vector<double>& v) {
    if (v.empty()) return std::nan("");
    const auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

bool same_placement(const Placement& a, const Placement& b) {
    if (std::bit_cast<std::uint64_t>(a.total) != std::bit_cast<std::uint64_t>(b.total)) return false;
    if (a.slots.size() != b.slots.size()) return false;
    for (std::size_t k = 0; k < a.slots.size(); ++k) {
        if (std::bit_cast<std::uint64_t>(a.slots[k]) != std::bit_cast<std::uint64_t>(b.slots[k])) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: kernel_bench WORKLOADS [SECONDS_PER_WORKLOAD]\n");
        return 2;
    }
    const double budget = argc > 2 ? std::atof(argv[2]) : 1.0;
    std::vector<Named> isas;
    for (const Named& named : kIsas) {
        if (isa_available(named.isa)) isas.push_back(named);
    }
    using Clock = std::chrono::steady_clock;
    auto micros = [](Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); };

    std::printf("| workload | X | cost matrix |");
    for (const Named& named : isas) std::printf(" assignment: %s |", named.name);
    std::printf(" both, in a row |\n|---|---|---:|");
    for (std::size_t i = 0; i < isas.size(); ++i) std::printf("---:|");
    std::printf("---:|\n");

    int disagreements = 0;
    for (const Workload& w : read_workloads(argv[1])) {
        std::vector<double> x = w.x;
        const StridedMatrix view{reinterpret_cast<const char*>(x.data()), w.n, w.n,
                                 static_cast<std::ptrdiff_t>(w.n * sizeof(double)), sizeof(double)};
        // Call `call` places the workload's next team, its row of X cleared first.
        struct Call {
            std::uint64_t team;
            const std::vector<double>& slots;
            std::vector<std::uint64_t> opponents;
        };
        auto set_up = [&](std::size_t call) {
            const std::uint64_t team = w.teams[call % w.teams.size()];
            x = w.x;
            for (std::size_t j = 0; j < w.n; ++j) x[team * w.n + j] = kUnscheduled;
            Call set{team, w.home.at(team), {}};
            for (std::uint64_t j = 0; j < w.n; ++j) {
                if (j != team) set.opponents.push_back(j);
            }
            return set;
        };
        std::vector<double> cost_us;
        std::vector<std::vector<double>> assign_us(isas.size());
        const auto start = Clock::now();
        for (std::size_t call = 0; call < 20 || micros(Clock::now() - start) < budget * 1e6; ++call) {
            const Call c = set_up(call);
            HomeGames games(c.slots.size(), c.opponents.size());
            auto t0 = Clock::now();
            games.price(view, c.team, c.slots, c.opponents, w.model, w.p);
            cost_us.push_back(micros(Clock::now() - t0));

            Placement first;
            for (std::size_t k = 0; k < isas.size(); ++k) {
                const std::size_t i = (call + k) % isas.size();
                t0 = Clock::now();
                Placement placed = games.place_priced(c.slots, w.p, {Route::automatic, isas[i].isa});
                assign_us[i].push_back(micros(Clock::now() - t0));
                if (k == 0) {
                    first = std::move(placed);
                } else if (!same_placement(first, placed)) {
                    ++disagreements;
                }
            }
        }
        std::vector<double> both_us;
        const auto again = Clock::now();
        for (std::size_t call = 0; call < 20 || micros(Clock::now() - again) < budget * 1e6; ++call) {
            const Call c = set_up(call);
            const auto t0 = Clock::now();
            HomeGames games(c.slots.size(), c.opponents.size());
            games.price_and_place_here(view, c.team, c.slots, c.opponents, w.model, w.p);
            both_us.push_back(micros(Clock::now() - t0));
        }
        std::printf("| %s | %s | %.2f |", w.name.c_str(), w.fill.c_str(), median(cost_us));
        for (auto& samples : assign_us) std::printf(" %.2f |", median(samples));
        std::printf(" %.2f |\n", median(both_us));
        std::fflush(stdout);
    }
    if (disagreements != 0) {
        std::fprintf(stderr, "kernel_bench: routes disagreed on %d placements\n", disagreements);
        return 1;
    }
    return 0;
}

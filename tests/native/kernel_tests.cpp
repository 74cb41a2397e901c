// Tests of the numeric kernels: team slot lists, the cost matrix and the
// assignment. A self-contained program: exits nonzero when a check fails.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "assign/assignment.hpp"
#include "assign/home_games.hpp"
#include "assign/placement.hpp"
#include "cost/cost_matrix.hpp"
#include "cost/numeric.hpp"
#include "cost/slot_sets.hpp"
#include "cost/team_slots.hpp"
#include "surface/failure.hpp"

using namespace tavelin;

namespace {

int g_checks = 0;
int g_failures = 0;

#define CHECK(cond)                                                                  \
    do {                                                                             \
        ++g_checks;                                                                  \
        if (!(cond)) {                                                               \
            ++g_failures;                                                            \
            std::fprintf(stderr, "%s:%d: CHECK failed: %s\n", __FILE__, __LINE__, #cond); \
        }                                                                            \
    } while (0)

// Runs f and returns the text of the InternalFailure it throws ("" if none).
// Caller mistakes the kernels meet are refused, never reported as broken.
std::string failure_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const InternalFailure& e) {
        const bool caller_mistake =
            e.text == kIndexOutOfBounds || e.text == "number of rows must not be larger than number of columns";
        CHECK(caller_mistake == (e.kind == FailureKind::refused));
        return e.text;
    }
    return "";
}

constexpr double U = kUnscheduled;
constexpr double F = kInfeasible;
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

bool same_bits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!same_bits(a[i], b[i])) return false;
    }
    return true;
}

// A dense row-major matrix and views of it.
struct Dense {
    std::size_t rows, cols;
    std::vector<double> v;
    StridedMatrix view() const {
        return {reinterpret_cast<const char*>(v.data()), rows, cols,
                static_cast<std::ptrdiff_t>(cols * sizeof(double)), sizeof(double)};
    }
};

Dense dense(std::size_t rows, std::size_t cols, std::vector<double> v) { return {rows, cols, std::move(v)}; }

// The schedule used by several examples: 0 hosts 2 in slot 3, 1 hosts 0 in
// slot 1, 2 hosts 1 in slot 9.
const Dense kExample = dense(3, 3, {U, U, 3.0, 1.0, U, U, U, 9.0, U});

std::vector<double> cells(const CostMatrix& c) { return {c.cells.get(), c.cells.get() + c.rows * c.cols}; }

// ---------------------------------------------------------------- team slots

void test_team_slots() {
    const StridedMatrix x = kExample.view();
    CHECK(same_bits(get_team_array(x, 0), {3.0, 1.0}));
    CHECK(same_bits(get_team_array(x, 1), {1.0, 9.0}));
    CHECK(same_bits(get_team_array(x, 2), {9.0, 3.0}));
    CHECK(failure_of([&] { get_team_array(x, 3); }) == kIndexOutOfBounds);
    CHECK(failure_of([&] { get_team_array(x, ~std::uint64_t{0}); }) == kIndexOutOfBounds);

    // Kept and dropped values; the diagonal is visited by both passes.
    const Dense d = dense(3, 3, {4.0, kNaN, 9999.5, U, U, U, -0.0, U, U});
    const std::vector<double> team0 = get_team_array(d.view(), 0);
    CHECK(team0.size() == 5);
    if (team0.size() == 5) {
        CHECK(team0[0] == 4.0 && std::isnan(team0[1]) && team0[2] == 9999.5);
        CHECK(team0[3] == 4.0 && same_bits(team0[4], -0.0));
    }
    CHECK(get_team_array(d.view(), 1).size() == 1);  // the NaN in column 1
    CHECK(get_team_array(Dense{2, 2, {U, U, U, U}}.view(), 1).empty());

    // Empty and one-sided shapes.
    const StridedMatrix empty{};
    CHECK(get_team_array(empty, 0).empty());
    CHECK(get_team_array(empty, 12345).empty());
    const StridedMatrix rows_only{nullptr, 3, 0, 0, 8};
    const StridedMatrix cols_only{nullptr, 0, 3, 24, 8};
    for (std::uint64_t t : {0u, 1u, 5u}) {
        CHECK(failure_of([&] { get_team_array(rows_only, t); }) == kIndexOutOfBounds);
        CHECK(failure_of([&] { get_team_array(cols_only, t); }) == kIndexOutOfBounds);
    }

    // Non-square: 1 x 3 and 3 x 1. Team 0 of a 1 x 3 matrix reads its row and
    // column; team 1 is a valid column but not a valid row.
    const Dense wide = dense(1, 3, {5.0, 6.0, 7.0});
    CHECK(same_bits(get_team_array(wide.view(), 0), {5.0, 6.0, 7.0, 5.0}));
    CHECK(failure_of([&] { get_team_array(wide.view(), 1); }) == kIndexOutOfBounds);
    const Dense tall = dense(3, 1, {5.0, 6.0, 7.0});
    CHECK(failure_of([&] { get_team_array(tall.view(), 1); }) == kIndexOutOfBounds);

    // Views: transposed, reversed rows (negative stride), broadcast (zero
    // stride) and unaligned storage read the logical elements.
    StridedMatrix transposed = x;
    std::swap(transposed.row_stride, transposed.col_stride);
    CHECK(same_bits(get_team_array(transposed, 0), {1.0, 3.0}));
    CHECK(same_bits(get_team_array(transposed, 2), {3.0, 9.0}));
    StridedMatrix reversed = x;
    reversed.data += 2 * x.row_stride;
    reversed.row_stride = -x.row_stride;  // rows 2, 1, 0
    CHECK(same_bits(get_team_array(reversed, 0), {9.0, 1.0}));
    CHECK(same_bits(get_team_array(reversed, 2), {3.0, 3.0}));
    const double row[3] = {1.0, U, 2.0};
    const StridedMatrix broadcast{reinterpret_cast<const char*>(row), 3, 3, 0, 8};
    CHECK(same_bits(get_team_array(broadcast, 2), {1.0, 2.0, 2.0, 2.0, 2.0}));
    std::vector<char> raw(1 + 9 * sizeof(double));
    std::memcpy(raw.data() + 1, kExample.v.data(), 9 * sizeof(double));
    const StridedMatrix unaligned{raw.data() + 1, 3, 3, 24, 8};
    CHECK(same_bits(get_team_array(unaligned, 1), {1.0, 9.0}));

    // collect_team_slots replaces what the vector held.
    std::vector<double> out = {42.0, 43.0, 44.0, 45.0, 46.0};
    collect_team_slots(x, 1, out);
    CHECK(same_bits(out, {1.0, 9.0}));
}

// --------------------------------------------------------------- cost matrix

struct Instance {
    double m = 0.0;
    double r_max = 2.0;
    ForbiddenSlotMap forbidden;
    std::vector<std::int64_t> penalties{0};
    bool near = true;  // build the NearGaps table, as the constructor does

    CostModel model() const {
        CostModel model;
        model.m = m;
        model.r_max = r_max;
        model.forbidden = ForbiddenSlots(forbidden);
        model.penalties = GapPenalties(penalties);
        if (near) model.near = NearGaps(model.penalties, model.r_max);
        return model;
    }

    CostMatrix build(const StridedMatrix& x, std::uint64_t a, const std::vector<double>& S,
                     const std::vector<std::uint64_t>& O) const {
        return create_cost_matrix_inner(x, a, S, O, model());
    }
};

// The cost matrix computed cell by cell, straight from the rules, without
// any of the builder's precomputation. Used to compare bit for bit.
std::vector<double> reference_cost(const StridedMatrix& x, std::uint64_t a, const std::vector<double>& S,
                                   const std::vector<std::uint64_t>& O, const Instance& in) {
    const std::size_t nS = S.size(), nO = O.size();
    std::vector<double> out(nS * nO, 0.0);
    const std::vector<double> H = get_team_array(x, a);
    const auto close = [&](double t, double s) { return in.r_max > std::fabs(t - s) + 1.0; };
    const auto penalty = [&](double d) -> std::int64_t {
        if (d == kInf) return 0;
        const std::uint64_t idx = saturating_to_u64(d);
        return idx > in.penalties.size() - 1 ? 0 : in.penalties[idx];
    };
    const auto forward = [](const std::vector<double>& L, double s) {
        double best = kInf;
        for (double t : L) if (t - s > 0 && t - s < best) best = t - s;
        return best;
    };
    const auto backward = [](const std::vector<double>& L, double s) {
        double best = kInf;
        for (double t : L) if (s - t > 0 && s - t < best) best = s - t;
        return best;
    };
    for (std::size_t k = 0; k < nO; ++k) {
        const std::uint64_t g = O[k];
        const std::vector<double> G = get_team_array(x, g);
        if (a >= x.cols || g >= x.rows) fail(kIndexOutOfBounds);
        const double r = x.at(g, a);
        const auto entry = in.forbidden.find(g);
        for (std::size_t i = 0; i < nS; ++i) {
            const double s = S[i];
            bool bad = in.m > std::fabs(s - r);
            for (double t : H) bad = bad || t == s || close(t, s);
            for (double t : G) bad = bad || t == s || close(t, s);
            if (entry != in.forbidden.end() && entry->second.count(saturating_to_i64(s))) bad = true;
            std::int64_t sum = penalty(forward(H, s));
            sum = wrapping_add(sum, penalty(backward(H, s)));
            sum = wrapping_add(sum, penalty(forward(G, s)));
            sum = wrapping_add(sum, penalty(backward(G, s)));
            out[i * nO + k] = bad ? F : static_cast<double>(sum);
        }
    }
    return out;
}

void test_cost_worked_example() {
    Instance in;
    in.m = 4.0;
    in.r_max = 3.0;
    in.forbidden = {{1, {6}}};
    in.penalties = {0, 0, 5, 2, 1};
    const CostMatrix c = in.build(kExample.view(), 0, {2.0, 5.0, 6.0, 7.0}, {1});
    CHECK(c.rows == 4 && c.cols == 1);
    CHECK(same_bits(cells(c), {F, 7.0, F, 6.0}));
    in.m = 5.0;
    CHECK(same_bits(cells(in.build(kExample.view(), 0, {2.0, 5.0, 6.0, 7.0}, {1})), {F, F, F, 6.0}));
}

void test_cost_rules() {
    const StridedMatrix ex = kExample.view();

    // Closeness bound: home team 0 plays in slots 3 and 1, opponent 1 in 1
    // and 9. r_max 2 excludes only used slots; 3 also their neighbours.
    Instance in;
    in.r_max = 2.0;
    CHECK(same_bits(cells(in.build(ex, 0, {1.0, 2.0, 4.0, 3.0, 8.0, 9.0}, {1})), {F, 0.0, 0.0, F, 0.0, F}));
    in.r_max = 3.0;
    CHECK(same_bits(cells(in.build(ex, 0, {2.0, 4.0, 5.0, 7.0, 8.0}, {1})), {F, F, 0.0, 0.0, F}));

    // Separation from the reverse game (1 hosts 0 in slot 1); unscheduled
    // reverse games count as slot 9999.
    in = Instance{};
    const Dense lone = dense(2, 2, {U, U, 1.0, U});
    in.m = 2.0;
    CHECK(same_bits(cells(in.build(lone.view(), 0, {1.0, 2.0, 3.0, 0.5}, {1})), {F, F, 0.0, F}));
    for (double m : {0.0, -1.0}) {
        in.m = m;
        CHECK(same_bits(cells(in.build(lone.view(), 0, {0.0, 1.0, 2.0}, {1})), {0.0, F, 0.0}));
    }
    const Dense none = dense(2, 2, {U, U, U, U});
    in.m = 9000.0;
    CHECK(same_bits(cells(in.build(none.view(), 0, {999.0, 1000.0, 18998.0, 18999.0}, {1})), {0.0, F, F, 0.0}));

    // Forbidden keys truncate toward zero; other teams' and the home team's
    // own entries play no part.
    in = Instance{};
    in.forbidden = {{1, {3, -2, 0}}, {0, {7}}, {5, {}}};
    CHECK(same_bits(cells(in.build(none.view(), 0, {3.7, 3.0, 4.0, -2.9, -3.0, 7.0, 0.5, kNaN}, {1})),
                    {F, F, 0.0, F, 0.0, 0.0, F, F}));
    in.forbidden = {{1, {}}};
    CHECK(same_bits(cells(in.build(none.view(), 0, {0.0, kNaN}, {1})), {0.0, 0.0}));

    // Gaps truncate to table indices: 2.9 uses entry 2; gaps above max_gap
    // and no gap at all cost 0.
    in = Instance{};
    in.penalties = {100, 10, 20, 30};
    const Dense far = dense(2, 2, {U, 10.0, U, U});  // 0 hosts 1 in slot 10
    CHECK(same_bits(cells(in.build(far.view(), 0, {7.1, 12.9, 5.0}, {1})),
                    {40.0, 40.0, 0.0}));  // 2.9 -> 20 per team; 5 -> beyond max_gap
    in.penalties = {0, 0, 0, -4};
    CHECK(same_bits(cells(in.build(far.view(), 0, {7.0}, {1})), {-8.0}));
    in.penalties = {7};
    CHECK(same_bits(cells(in.build(far.view(), 0, {1e300, -1e300, 10.0 + 0x1p-40}, {1})), {0.0, 0.0, F}));

    // NaN slots: NaN in S is close to nothing and costs 0; NaN in X blocks
    // nothing and gives no gap.
    in = Instance{};
    in.r_max = 5.0;
    in.penalties = {1, 1, 1, 1, 1, 1, 1};
    const Dense nan_x = dense(2, 2, {U, kNaN, 4.0, U});
    CHECK(same_bits(cells(in.build(nan_x.view(), 0, {kNaN, 4.0, 9.0, 2.0}, {1})), {0.0, F, 2.0, F}));

    // Infinite slots equal each other without being close: still blocked.
    in = Instance{};
    const Dense inf_x = dense(3, 3, {U, U, kInf, U, U, U, U, U, U});  // home team 0 at +inf
    CHECK(same_bits(cells(in.build(inf_x.view(), 0, {kInf, -kInf, 5.0}, {1})), {F, 0.0, 0.0}));
    const Dense inf_y = dense(3, 3, {U, U, U, U, U, kInf, U, U, U});  // 1 hosts 2 at +inf
    CHECK(same_bits(cells(in.build(inf_y.view(), 0, {kInf, 1.0}, {1, 2})), {F, F, 0.0, 0.0}));

    // The penalty sum wraps around at the int64 limits.
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    // Team 0 plays in 3 and 9, team 1 in 3: slot 5 has the gaps 4 and 2 for
    // the home team and 2 for the opponent.
    const Dense wrap = dense(3, 3, {U, 3.0, U, U, U, U, 9.0, U, U});
    in = Instance{};
    in.penalties = {0, 0, kMax, 0, 3};
    CHECK(same_bits(cells(in.build(wrap.view(), 0, {5.0}, {1})), {1.0}));
    in.penalties = {0, 0, kMin, 0, 5};
    CHECK(same_bits(cells(in.build(wrap.view(), 0, {5.0}, {1})), {5.0}));
    in.penalties = {0, 0, kMax, 0, kMax};
    CHECK(same_bits(cells(in.build(wrap.view(), 0, {5.0}, {1})), {static_cast<double>(kMax - 2)}));

    // Huge and tiny slots and gaps stay well defined.
    in = Instance{};
    in.penalties = {7};
    CHECK(same_bits(cells(in.build(none.view(), 0, {1e300, -1e300, 0x1p63, -0x1p63}, {1})), {0.0, 0.0, 0.0, 0.0}));
    in.forbidden = {{1, {std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min()}}};
    CHECK(same_bits(cells(in.build(none.view(), 0, {1e300, -1e300, 0x1p62}, {1})), {F, F, 0.0}));
}

void test_cost_shapes_and_failures() {
    const StridedMatrix ex = kExample.view();
    const Instance in;
    CostMatrix c = in.build(ex, 0, {1.0, 2.0}, {});
    CHECK(c.rows == 2 && c.cols == 0 && c.cells != nullptr);
    c = in.build(ex, 0, {}, {1, 2, 0});
    CHECK(c.rows == 0 && c.cols == 3 && c.cells != nullptr);
    c = in.build(StridedMatrix{}, 7, {1.0}, {});
    CHECK(c.rows == 1 && c.cols == 0 && c.cells != nullptr);

    // Index tests for every opponent, also without home slots.
    for (const std::vector<double>& S : {std::vector<double>{}, std::vector<double>{5.0}}) {
        CHECK(failure_of([&] { in.build(ex, 0, S, {1, 2, 3}); }) == kIndexOutOfBounds);
        CHECK(failure_of([&] { in.build(ex, 3, S, {}); }) == kIndexOutOfBounds);
        CHECK(failure_of([&] { in.build(StridedMatrix{}, 0, S, {0}); }) == kIndexOutOfBounds);
        const Dense wide = dense(2, 3, {U, U, U, U, U, U});
        CHECK(failure_of([&] { in.build(wide.view(), 1, S, {2}); }) == kIndexOutOfBounds);
    }
    // The home team as its own opponent is an ordinary column.
    CHECK(same_bits(cells(in.build(ex, 0, {6.0}, {0})), {0.0}));
}

// Random schedules with fractional, NaN, infinite and signed-zero slots,
// random forbidden sets and penalties: the builder matches the cell-by-cell
// rules bit for bit, on contiguous and on transposed, reversed views.
void test_cost_against_reference() {
    std::mt19937_64 rng(12345);
    const double specials[] = {kNaN, kInf, -kInf, -0.0, 0.0, 9999.0, 9999.5, 2.5, 3.7, -1.0};
    auto slot = [&]() -> double {
        const std::uint64_t k = rng() % 20;
        if (k < 3) return specials[rng() % std::size(specials)];
        if (k < 8) return U;
        return static_cast<double>(rng() % 24) + (rng() % 4 == 0 ? 0.5 : 0.0);
    };
    int mismatches = 0;
    for (int round = 0; round < 2000; ++round) {
        const std::size_t n = 1 + rng() % (round < 400 ? 9 : 24);
        Dense x{n, n, std::vector<double>(n * n)};
        for (double& v : x.v) v = slot();
        Instance in;
        in.m = static_cast<double>(static_cast<int>(rng() % 5) - 1);
        in.r_max = 2.0 + static_cast<double>(rng() % 3);
        in.penalties.assign(1 + rng() % 8, 0);
        for (std::int64_t& p : in.penalties) p = static_cast<std::int64_t>(rng() % 11) - 3;
        for (std::uint64_t t = 0; t < n; ++t) {
            if (rng() % 2) continue;
            auto& set = in.forbidden[t];
            for (int e = static_cast<int>(rng() % 4); e > 0; --e) set.insert(static_cast<std::int64_t>(rng() % 24));
        }
        std::vector<double> S(rng() % (round < 400 ? 12 : 40));
        for (double& s : S) s = slot() == U ? static_cast<double>(rng() % 24) : slot();
        const std::uint64_t a = rng() % n;
        std::vector<std::uint64_t> O;
        for (std::uint64_t j = 0; j < n; ++j) if (j != a || rng() % 4 == 0) O.push_back(j);

        // The transposed view of the transposed matrix, rows reversed twice.
        Dense t{n, n, std::vector<double>(n * n)};
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = 0; j < n; ++j) t.v[(n - 1 - j) * n + i] = x.v[i * n + j];
        StridedMatrix view = t.view();
        view.data += static_cast<std::ptrdiff_t>(n - 1) * view.row_stride;
        view.col_stride = -view.row_stride;
        view.row_stride = sizeof(double);

        const std::vector<double> expected = reference_cost(x.view(), a, S, O, in);
        if (!same_bits(cells(in.build(x.view(), a, S, O)), expected)) ++mismatches;
        if (!same_bits(cells(in.build(view, a, S, O)), expected)) ++mismatches;
    }
    CHECK(mismatches == 0);
}

// Whole-numbered slots, the common case, with what makes it leave the bit
// sets: a NaN or signed-zero home slot, used slots that are fractional,
// negative or beyond 2^16 (one opponent's column then follows the plain
// rules), gaps and closeness bounds that span several 64-slot words, long
// penalty tables and forbidden keys outside the bit sets. Written into a
// strided target with another infeasible marker, as placing does.
void test_cost_whole_slots_against_reference() {
    std::mt19937_64 rng(4711);
    const double odd[] = {kNaN, -0.0, 2.5, -1.0, -3.0, 65536.0, 70000.0, 1e300, kInf};
    int mismatches = 0, wrong_largest = 0;
    for (int round = 0; round < 1500; ++round) {
        const std::size_t n = 2 + rng() % 20;
        const std::size_t span = round % 3 == 0 ? 40 : round % 3 == 1 ? 300 : 65536;
        auto whole = [&] {
            const std::size_t v = rng() % span;
            return static_cast<double>(round % 5 == 0 && rng() % 2 ? 65535 - v % 200 : v);
        };
        Dense x{n, n, std::vector<double>(n * n, U)};
        for (double& v : x.v) {
            if (rng() % 3 == 0) v = rng() % 60 == 0 ? odd[rng() % std::size(odd)] : whole();
        }
        Instance in;
        in.m = static_cast<double>(static_cast<int>(rng() % 90) - 5);
        in.r_max = 2.0 + static_cast<double>(rng() % (round % 4 == 0 ? 100 : 4));
        in.penalties.assign(1 + rng() % (round % 2 == 0 ? 6 : 200), 0);  // short tables: the near-gaps table
        for (std::int64_t& p : in.penalties) p = static_cast<std::int64_t>(rng() % 21) - 5;
        for (std::uint64_t t = 0; t < n; ++t) {
            if (rng() % 3 == 0) continue;
            auto& set = in.forbidden[t];
            for (int e = static_cast<int>(rng() % 30); e > 0; --e) {
                const std::uint64_t k = rng() % 40;
                set.insert(k == 0 ? -static_cast<std::int64_t>(rng() % 5) - 1
                           : k == 1 ? std::int64_t{1} << 40
                           : k == 2 ? 65536
                                    : static_cast<std::int64_t>(whole()));
            }
        }
        std::vector<double> S(rng() % 30);
        for (double& s : S) s = rng() % 40 == 0 ? (rng() % 2 ? kNaN : -0.0) : whole();
        const std::uint64_t a = rng() % n;
        std::vector<std::uint64_t> O;
        for (std::uint64_t j = 0; j < n; ++j) if (j != a || rng() % 4 == 0) O.push_back(j);

        const std::vector<double> expected = reference_cost(x.view(), a, S, O, in);
        if (!same_bits(cells(in.build(x.view(), a, S, O)), expected)) ++mismatches;
        // Without the table of near gaps: the bits are scanned instead.
        in.near = false;
        if (!same_bits(cells(in.build(x.view(), a, S, O)), expected)) ++mismatches;
        in.near = round % 2 == 0;

        // Into a wider target, 9999999.0 written as 1e15, as placing does.
        const std::size_t stride = O.size() + 3;
        std::vector<double> target(S.size() * stride + 1, 42.0);
        const std::uint64_t largest =
            write_cost_matrix(x.view(), a, S, O, in.model(), CostTarget{target.data(), stride, 1e15});
        std::uint64_t expected_largest = 0;
        for (std::size_t i = 0; i < S.size(); ++i) {
            for (std::size_t k = 0; k < stride; ++k) {
                const double got = target[i * stride + k];
                if (k >= O.size()) {
                    if (!same_bits(got, 42.0)) ++mismatches;
                    continue;
                }
                const double want = expected[i * O.size() + k];
                if (!same_bits(got, want == F ? 1e15 : want)) ++mismatches;
                if (want == F) continue;
                expected_largest = std::max(expected_largest, static_cast<std::uint64_t>(std::fabs(want)));
            }
        }
        if (largest != expected_largest) ++wrong_largest;
    }
    CHECK(mismatches == 0);
    CHECK(wrong_largest == 0);
}

// The table of every team's used slots, on every route, against a direct
// reading of rows and columns: large X (where rows are sorted in vectors),
// sizes around the 64-cell blocks, sparse, mixed and full rows, and values
// that are no slot (fractions, negatives, beyond the top, NaN, -0.0).
void test_slot_table_routes() {
    std::mt19937_64 rng(2718);
    const double odd[] = {kNaN, -0.0, 2.5, -1.0, 1e300, kInf, -kInf, 9998.5};
    int wrong = 0, differing = 0;
    for (int round = 0; round < 160; ++round) {
        const std::size_t n = round % 4 == 0 ? 2 + rng() % 40 : 32 + rng() % 110;
        const std::size_t limit = 1 + rng() % 300;
        const bool ignore_beyond = round % 2 == 0;
        const int fill = static_cast<int>(rng() % 11);  // tenths of the cells that hold a game
        Dense x{n, n, std::vector<double>(n * n, U)};
        for (double& v : x.v) {
            if (static_cast<int>(rng() % 10) >= fill) continue;
            v = rng() % 200 == 0 ? odd[rng() % std::size(odd)] : static_cast<double>(rng() % (limit + 20));
        }
        const std::size_t words = TeamSlotTable::words_for(n, limit);
        std::vector<std::byte> block(TeamSlotTable::bytes(n, words) + 16);
        std::vector<std::uint64_t> first;
        for (Isa isa : {Isa::scalar, Isa::sse2, Isa::avx2, Isa::avx512, Isa::neon}) {
            if (!isa_available(isa)) continue;
            const TeamSlotTable table(x.view(), n, words, limit, ignore_beyond, block.data(), isa);
            std::vector<std::uint64_t> all;
            for (std::size_t t = 0; t < n; ++t) {
                bool fits = true;
                std::vector<bool> used(limit, false);
                for (std::size_t k = 0; k < 2 * n; ++k) {
                    const double v = k < n ? x.v[t * n + k] : x.v[(k - n) * n + t];
                    if (v == U || v != v || (ignore_beyond && v >= static_cast<double>(limit))) continue;
                    if (v >= 0.0 && v < static_cast<double>(limit) && v == std::floor(v)) {
                        used[static_cast<std::size_t>(v)] = true;
                    } else {
                        fits = false;
                    }
                }
                if (table.fits(t) != fits) ++wrong;
                const SlotSet set = table.set(t);
                for (std::size_t v = 0; fits && v < limit; ++v) wrong += set.has(v) != used[v];
                all.insert(all.end(), set.bits, set.bits + words);
            }
            if (first.empty()) first = all;
            differing += all != first;
        }
    }
    CHECK(wrong == 0);
    CHECK(differing == 0);
}

// The bit-set index answers exactly as the hash sets do, also for keys
// outside its range, teams beyond its dense part and teams past its budget.
void test_forbidden_index() {
    ForbiddenSlotMap sets;
    sets[0] = {0, 63, 64, 65535, 65536, -1, std::numeric_limits<std::int64_t>::max()};
    sets[2] = {};
    sets[5] = {std::numeric_limits<std::int64_t>::min()};
    sets[ForbiddenSlots::kTeamLimit + 3] = {7, 1 << 20};
    // 1100 teams whose sets need 1024 words each: more than the budget holds.
    for (std::uint64_t t = 100; t < 1200; ++t) sets[t] = {65535, static_cast<std::int64_t>(t)};
    ForbiddenSlots index(sets);
    const std::int64_t probes[] = {0, 1, 7, 63, 64, 100, 1199, 65535, 65536, -1, 1 << 20,
                                   std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min()};
    int wrong = 0;
    for (std::uint64_t team : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{2}, std::uint64_t{5},
                               std::uint64_t{99}, std::uint64_t{100}, std::uint64_t{700}, std::uint64_t{1199},
                               std::uint64_t{1200}, ForbiddenSlots::kTeamLimit + 3, ForbiddenSlots::kTeamLimit + 4,
                               ~std::uint64_t{0}}) {
        const ForbiddenSlots::Team found = index.team(team);
        const auto entry = sets.find(team);
        for (const std::int64_t key : probes) {
            const bool expected = entry != sets.end() && entry->second.contains(key);
            if (found.contains(key) != expected) ++wrong;
        }
    }
    CHECK(wrong == 0);
    // The index stays valid when it is moved, as the instance is.
    const ForbiddenSlots moved = std::move(index);
    CHECK(moved.team(0).contains(std::numeric_limits<std::int64_t>::max()));
    CHECK(!moved.team(0).contains(1));
    CHECK(moved.team(ForbiddenSlots::kTeamLimit + 3).contains(1 << 20));
}

// ---------------------------------------------------------------- assignment

std::vector<std::size_t> assign(const std::vector<double>& w, std::size_t nr, std::size_t nc) {
    return optimal_assignment(w.data(), nr, nc);
}

using Cols = std::vector<std::size_t>;

void test_assignment_examples() {
    CHECK(assign({1, 1, 1, 0}, 2, 2) == (Cols{1, 0}));
    CHECK(assign({-2, -1, -0.0, -0.0, -3, -2, -0.0, -0.0, -100, -100, -0.0, -0.0, -100, -100, -0.0, -0.0}, 4, 4) ==
          (Cols{1, 0, 2, 3}));
    CHECK(assign({-7.5}, 1, 1) == (Cols{0}));
    CHECK(assign({}, 0, 0).empty());
    CHECK(assign({1, 2, 3}, 0, 3).empty());
    const std::string rows_text = "number of rows must not be larger than number of columns";
    CHECK(failure_of([] { assign({}, 2, 0); }) == rows_text);
    CHECK(failure_of([] { assign({1, 2, 3, 4, 5, 6}, 3, 2); }) == rows_text);

    // Equal weights: row r takes column r, also in rectangular matrices.
    for (std::size_t nr = 1; nr <= 7; ++nr) {
        for (std::size_t nc = nr; nc <= 9; ++nc) {
            for (double v : {0.0, -0.0, 3.25, -1e15}) {
                Cols expected(nr);
                std::iota(expected.begin(), expected.end(), std::size_t{0});
                CHECK(assign(std::vector<double>(nr * nc, v), nr, nc) == expected);
            }
        }
    }
    // Equal least slack for a root: the lower-indexed column wins.
    CHECK(assign({5, 9, 9, 9}, 1, 4) == (Cols{1}));
    CHECK(assign({9, 1, 9, 1}, 2, 2) == (Cols{0, 1}));
}

// How placing one team's home games uses the assignment: K squared up with
// 1e15 for infeasible cells, p in dummy rows, 0 in dummy columns, negated.
// Returns the slot index given to each opponent (-1: none) and the total.
std::pair<std::vector<int>, double> place(const std::vector<double>& K, std::size_t nS, std::size_t nO, double p) {
    const std::size_t N = nS + nO;
    std::vector<double> A(N * N, 0.0), W(N * N);
    for (std::size_t r = 0; r < N; ++r)
        for (std::size_t k = 0; k < nO; ++k) A[r * N + k] = r < nS ? (K[r * nO + k] == F ? 1e15 : K[r * nO + k]) : p;
    for (std::size_t i = 0; i < N * N; ++i) W[i] = -A[i];
    const Cols col = assign(W, N, N);
    std::vector<int> slot_of(nO, -2);
    double total = -0.0;
    for (std::size_t r = 0; r < N; ++r) {
        total += A[r * N + col[r]];
        if (col[r] < nO) slot_of[col[r]] = r < nS ? static_cast<int>(r) : -1;
    }
    return {slot_of, total};
}

void test_assignment_in_placement() {
    using R = std::pair<std::vector<int>, double>;
    CHECK(place({F, 3, 2, F}, 2, 2, 100) == (R{{1, 0}, 5.0}));
    CHECK(place({F, 3, F, F}, 2, 2, 100) == (R{{-1, 0}, 103.0}));
    CHECK(place({0, 0, 0, 0}, 2, 2, 100) == (R{{0, 1}, 0.0}));
    CHECK(place({1, 2, 2, 3}, 2, 2, 100) == (R{{0, 1}, 4.0}));
    CHECK(place({2, 1, 3, 2}, 2, 2, 100) == (R{{1, 0}, 4.0}));
    CHECK(place({F, F, F, F}, 2, 2, 100) == (R{{-1, -1}, 200.0}));
    // More opponents than slots at cost 0: the lowest opponents get the slots.
    CHECK(place({0, 0, 0, 0, 0, 0}, 2, 3, 7) == (R{{0, 1, -1}, 7.0}));
    // A cost equal to p leaves the opponent out; just below p places it.
    CHECK(place({7}, 1, 1, 7) == (R{{-1}, 7.0}));
    CHECK(place({std::nextafter(7.0, 0.0)}, 1, 1, 7) == (R{{0}, std::nextafter(7.0, 0.0)}));
    // No slots at all, no opponents at all.
    CHECK(place({}, 0, 3, 2) == (R{{-1, -1, -1}, 6.0}));
    const R empty = place({}, 0, 0, 2);
    CHECK(empty.first.empty() && same_bits(empty.second, -0.0));
}

// Every instruction set this build has and the processor runs.
std::vector<Isa> available_isas() {
    std::vector<Isa> out;
    for (Isa isa : {Isa::scalar, Isa::sse2, Isa::avx2, Isa::avx512, Isa::neon}) {
        if (isa_available(isa)) out.push_back(isa);
    }
    return out;
}

struct RouteCase {
    Route route;
    Isa isa;
};

std::vector<RouteCase> routes_for(WeightClass cls) {
    std::vector<RouteCase> out;
    for (Isa isa : available_isas()) {
        out.push_back({Route::general, isa});
        if (cls == WeightClass::small_integers) out.push_back({Route::small_integers, isa});
    }
    out.push_back({Route::automatic, Isa::best});
    return out;
}

// Placing through HomeGames (the assignment matrix in scratch memory, padded
// rows, one stored dummy row, costs written through its target) against the
// placement done by hand with the reference routine: the same slot for every
// opponent and the same total, bit for bit, for costs of every kind.
void test_home_games_against_reference() {
    std::mt19937_64 rng(606);
    const double ps[] = {0.0, 5.0, -3.0, 0.5, 1e15, 2e15, 40.0};
    int mismatches = 0;
    for (int round = 0; round < 1500; ++round) {
        const std::size_t nS = rng() % 13, nO = rng() % 13, N = nS + nO;
        const double p = ps[rng() % std::size(ps)];
        std::vector<double> S(nS), K(nS * nO);
        for (std::size_t i = 0; i < nS; ++i) S[i] = static_cast<double>(rng() % 40);
        std::uint64_t largest = 0;
        for (double& k : K) {
            const std::uint64_t kind = rng() % 10;
            k = kind < 3 ? F : kind < 5 ? 0.0 : kind == 5 && round % 7 == 0 ? 0x1p51 : static_cast<double>(rng() % 9);
            if (k != F) largest = std::max(largest, static_cast<std::uint64_t>(k));
        }

        HomeGames games(nS, nO);
        const CostTarget target = games.cost_target();
        for (std::size_t i = 0; i < nS; ++i) {
            for (std::size_t k = 0; k < nO; ++k) {
                const double c = K[i * nO + k];
                target.cells[i * target.row_stride + k] = c == F ? target.infeasible : c;
            }
        }

        std::vector<double> A(N * N, 0.0), W(N * N);
        for (std::size_t r = 0; r < N; ++r) {
            for (std::size_t k = 0; k < nO; ++k) {
                A[r * N + k] = r >= nS ? p : K[r * nO + k] == F ? 1e15 : K[r * nO + k];
            }
        }
        for (std::size_t i = 0; i < N * N; ++i) W[i] = -A[i];
        const Cols col = tavelin::reference_assignment(W.data(), N, N);
        std::vector<double> slots(nO, kNaN);
        double total = -0.0;
        for (std::size_t r = 0; r < N; ++r) {
            total += A[r * N + col[r]];
            if (col[r] < nO && r < nS) slots[col[r]] = S[r];
        }
        // Every instruction set, on the route the weights select and on the
        // general one.
        for (const Isa isa : available_isas()) {
            for (const Route route : {Route::automatic, Route::placement, Route::general}) {
                const Placement got = games.place(S, p, largest, {route, isa});
                if (!same_bits(got.slots, slots) || !same_bits(got.total, total)) ++mismatches;
            }
        }
    }
    CHECK(mismatches == 0);
}

// Pricing and placing in one go (costs written as scaled integers for the
// placement route where it applies) against pricing as doubles and placing
// on the general route: the same slot for every opponent and the same
// total, bit for bit, also where p or a cost is too large for the route.
void test_price_and_place() {
    std::mt19937_64 rng(8080);
    int mismatches = 0, scaled = 0;
    for (int round = 0; round < 600; ++round) {
        const std::size_t n = 2 + rng() % 16, slots = 2 * n;
        Dense x{n, n, std::vector<double>(n * n, U)};
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t j = 0; j < n; ++j) {
                if (i != j && rng() % 3 == 0) x.v[i * n + j] = static_cast<double>(rng() % slots);
            }
        }
        Instance in;
        in.m = static_cast<double>(rng() % 4);
        in.r_max = 2.0 + static_cast<double>(rng() % 2);
        in.penalties = {0, static_cast<std::int64_t>(rng() % 6), static_cast<std::int64_t>(rng() % 3), 1};
        if (round % 7 == 0) in.penalties[1] = std::int64_t{1} << 40;  // beyond the route's bound
        for (std::uint64_t t = 0; t < n; ++t) in.forbidden[t] = {static_cast<std::int64_t>(rng() % slots)};
        const CostModel model = in.model();
        const std::uint64_t a = rng() % n;
        std::vector<double> S;
        for (std::size_t s = 0; s < slots; ++s) {
            if (rng() % 2 == 0) S.push_back(static_cast<double>(s));
        }
        std::vector<std::uint64_t> O;
        for (std::uint64_t j = 0; j < n; ++j) {
            if (j != a) O.push_back(j);
        }
        const double p = round % 5 == 0 ? 3e9 : static_cast<double>(rng() % 50);
        const StridedMatrix view = x.view();

        HomeGames expected_games(S.size(), O.size());
        const std::uint64_t largest = write_cost_matrix(view, a, S, O, model, expected_games.cost_target());
        const Placement expected = expected_games.place(S, p, largest, {Route::general, Isa::scalar});
        for (const Isa isa : available_isas()) {
            HomeGames games(S.size(), O.size());
            const Placement got = games.price_and_place(view, a, S, O, model, p, {Route::automatic, isa});
            if (!same_bits(got.slots, expected.slots) || !same_bits(got.total, expected.total)) ++mismatches;
            const double total = games.price_and_place_here(view, a, S, O, model, p);
            const std::vector<double> here(games.slots().begin(), games.slots().end());
            if (!same_bits(here, expected.slots) || !same_bits(total, expected.total)) ++mismatches;
        }
        scaled += p < 3e9 && round % 7 != 0;
    }
    CHECK(mismatches == 0);
    CHECK(scaled > 300);
}

// The separation from the reverse game at the edges of its run of slots:
// whole, unscheduled, NaN, infinite and far reverse slots (past the last
// home slot used, where they leave the bit sets), against every kind of m.
// Both the double and the scaled form match the rules cell by cell.
void test_cost_separation_edges() {
    const double reverses[] = {10.0, U, kNaN, 70000.5, kInf, 1e300, 4294967296.0 + 60000.0};
    const double ms[] = {kNaN, -1.0, 0.0, 0.5, 1.0, 2.0, 2.5, 10000.5, 10001.0, 1099511627776.0, 1e13, kInf};
    std::vector<double> S{kNaN, 8000.0, 9998.0, 9999.0, 10000.0, 59999.0, 60000.0};
    for (int s = 0; s <= 20; ++s) S.push_back(s);
    const std::vector<std::uint64_t> O{1, 2};
    int mismatches = 0;
    for (const double r : reverses) {
        for (const double m : ms) {
            Dense x{3, 3, std::vector<double>(9, U)};
            x.v[1 * 3 + 0] = r;    // team 1 hosts the home team 0
            x.v[2 * 3 + 1] = 5.0;  // a used slot of opponent 2 near the home slots
            Instance in;
            in.m = m;
            in.r_max = 3.0;
            in.penalties = {0, 0, 4, 1};
            in.forbidden[1] = {3, 9999};
            const std::vector<double> expected = reference_cost(x.view(), 0, S, O, in);
            if (!same_bits(cells(in.build(x.view(), 0, S, O)), expected)) ++mismatches;
            std::vector<std::int32_t> scaled(S.size() * O.size());
            const ScaledTarget target{scaled.data(), O.size(), 4, 1000, -1};
            if (!write_scaled_cost_matrix(x.view(), 0, S, O, in.model(), target)) ++mismatches;
            for (std::size_t c = 0; c < scaled.size(); ++c) {
                if (scaled[c] != (expected[c] == F ? -1 : static_cast<std::int32_t>(expected[c]) * 4)) ++mismatches;
            }
        }
    }
    CHECK(mismatches == 0);
}

// A feasible cost equal to the marker 9999999.0 cannot be told from it: the
// target's infeasible value is written for it too, and it still counts
// towards the largest cost.
void test_cost_equal_to_marker() {
    // Only team 1 plays, in slot 1 (its diagonal entry, so team 0 does not).
    const Dense x = dense(2, 2, {U, U, U, 1.0});
    Instance in;
    in.penalties = {0, 0, 0, 9999999, 4};
    const CostModel model = in.model();
    std::vector<double> out(2, 0.0);
    // Slot 4 is 3 after team 1's game (9999999), slot 5 is 4 after it (4).
    const std::vector<double> S = {4.0, 5.0};
    const std::vector<std::uint64_t> O = {1};
    const std::uint64_t largest =
        write_cost_matrix(x.view(), 0, S, O, model, CostTarget{out.data(), 1, 1e15});
    CHECK(same_bits(out[0], 1e15) && same_bits(out[1], 4.0));
    CHECK(largest == 9999999);
    // The same through the plain rules: a fractional home slot leaves the bit sets.
    const std::vector<double> S2 = {4.0, 5.0, 7.5};
    std::vector<double> out2(3, 0.0);
    write_cost_matrix(x.view(), 0, S2, O, model, CostTarget{out2.data(), 1, 1e15});
    CHECK(same_bits(out2[0], 1e15) && same_bits(out2[1], 4.0) && same_bits(out2[2], 0.0));
}

// The algorithm exactly as written: separate pick, shift and update passes
// and x = y = 0 before the scan. The kernel folds the passes; both must make
// the same choices among equal optima.
Cols reference_assignment(const std::vector<double>& W, std::size_t nr, std::size_t nc) {
    const std::size_t none = ~std::size_t{0};
    std::vector<double> rl(nr), cl(nc, 0.0), slack(nc);
    std::vector<std::size_t> rm(nr, none), cm(nc, none), par(nc), srow(nc);
    std::vector<bool> tree(nr);
    for (std::size_t r = 0; r < nr; ++r) {
        rl[r] = W[r * nc];
        for (std::size_t j = 1; j < nc; ++j) rl[r] = W[r * nc + j] > rl[r] ? W[r * nc + j] : rl[r];
    }
    for (std::size_t root = 0; root < nr; ++root) {
        std::fill(par.begin(), par.end(), none);
        std::fill(tree.begin(), tree.end(), false);
        tree[root] = true;
        for (std::size_t j = 0; j < nc; ++j) slack[j] = (rl[root] + cl[j]) - W[root * nc + j], srow[j] = root;
        std::size_t y;
        for (;;) {
            double delta = kInf;
            std::size_t x = 0;
            y = 0;
            for (std::size_t j = 0; j < nc; ++j)
                if (par[j] == none && slack[j] < delta) delta = slack[j], x = srow[j], y = j;
            if (delta > 0.0) {
                for (std::size_t r = 0; r < nr; ++r) if (tree[r]) rl[r] -= delta;
                for (std::size_t j = 0; j < nc; ++j) {
                    if (par[j] != none) cl[j] += delta;
                    else slack[j] -= delta;
                }
            }
            par[y] = x;
            if (cm[y] == none) break;
            const std::size_t x2 = cm[y];
            tree[x2] = true;
            for (std::size_t j = 0; j < nc; ++j) {
                if (par[j] != none) continue;
                const double a = (rl[x2] + cl[j]) - W[x2 * nc + j];
                if (slack[j] > a) slack[j] = a, srow[j] = x2;
            }
        }
        for (;;) {
            const std::size_t x = par[y], y2 = rm[x];
            cm[y] = x, rm[x] = y;
            if (y2 == none) break;
            y = y2;
        }
    }
    return rm;
}

// Largest total over every injective row -> column map (small sizes only).
double best_total(const std::vector<double>& W, std::size_t nr, std::size_t nc) {
    std::vector<std::size_t> cols(nc);
    std::iota(cols.begin(), cols.end(), std::size_t{0});
    double best = -kInf;
    do {
        double total = 0.0;
        for (std::size_t r = 0; r < nr; ++r) total += W[r * nc + cols[r]];
        best = std::max(best, total);
    } while (std::next_permutation(cols.begin(), cols.end()));
    return best;
}

void test_assignment_random() {
    std::mt19937_64 rng(2024);
    int not_optimal = 0, not_matching = 0, not_reference = 0;
    for (int round = 0; round < 3000; ++round) {
        const std::size_t nc = 1 + rng() % 7;
        const std::size_t nr = rng() % (nc + 1);
        const int kind = round % 3;  // small integers (many ties), dyadic, arbitrary
        std::vector<double> W(nr * nc);
        for (double& v : W) {
            if (kind == 0) v = -static_cast<double>(rng() % 4);
            else if (kind == 1) v = static_cast<double>(static_cast<int>(rng() % 64) - 32) / 8.0;
            else v = std::uniform_real_distribution<double>(-1e3, 1e3)(rng);
        }
        const Cols col = assign(W, nr, nc);
        std::vector<bool> used(nc);
        double total = 0.0;
        bool valid = col.size() == nr;
        for (std::size_t r = 0; valid && r < nr; ++r) {
            valid = col[r] < nc && !used[col[r]];
            if (valid) used[col[r]] = true, total += W[r * nc + col[r]];
        }
        if (!valid) { ++not_matching; continue; }
        const double best = best_total(W, nr, nc);
        if (kind < 2 ? total != best : std::fabs(total - best) > 1e-9 * (1.0 + std::fabs(best))) ++not_optimal;
        if (col != reference_assignment(W, nr, nc)) ++not_reference;
        if (tavelin::reference_assignment(W.data(), nr, nc) != reference_assignment(W, nr, nc)) ++not_reference;
    }
    CHECK(not_matching == 0);
    CHECK(not_optimal == 0);
    CHECK(not_reference == 0);

    // Larger square matrices of the placement shape agree with the
    // reference too (38 = 19 home slots + 19 opponents).
    for (int round = 0; round < 50; ++round) {
        const std::size_t n = 38;
        std::vector<double> W(n * n);
        for (double& v : W) v = -static_cast<double>(rng() % 3);
        if (assign(W, n, n) != reference_assignment(W, n, n)) ++not_reference;
    }
    CHECK(not_reference == 0);
}

// NaN and infinite weights never reach the routine in normal use; it must
// still end, either with a valid matching or with an internal failure.
void test_assignment_bad_weights_end() {
    const double odd[] = {kNaN, kInf, -kInf, 1e308, -1e308};
    std::mt19937_64 rng(7);
    int invalid = 0;
    for (int round = 0; round < 2000; ++round) {
        const std::size_t nc = 1 + rng() % 6;
        const std::size_t nr = 1 + rng() % nc;
        std::vector<double> W(nr * nc);
        for (double& v : W) v = rng() % 3 == 0 ? odd[rng() % std::size(odd)] : static_cast<double>(rng() % 5);
        try {
            const Cols col = assign(W, nr, nc);
            std::vector<bool> used(nc);
            for (std::size_t c : col) {
                if (c >= nc || used[c]) ++invalid;
                else used[c] = true;
            }
            if (col.size() != nr) ++invalid;
        } catch (const InternalFailure&) {
        }
    }
    CHECK(invalid == 0);
    CHECK(!failure_of([] { assign({kNaN, kNaN, kNaN, kNaN}, 2, 2); }).empty());
}

// Every route and instruction set against the reference routine, bit for
// bit: the same column for every row. The matrices are built to make the
// tie-breaks matter: few distinct values, whole blocks of equal weights, the
// shape of a placement (costs, 1e15 for infeasible pairs, p in the dummy
// rows, 0.0 in the dummy columns) with and without the equal-block hints,
// and values that are not small integers, which the small-integer route
// must not be given.
// Random weights of one of several kinds; returns the class they belong to.
WeightClass random_weights(std::mt19937_64& rng, int kind, std::vector<double>& cells) {
    const double huge[] = {1e15, -1e15, kSmallIntegerBound, -kSmallIntegerBound, 0.0, -0.0};
    for (double& v : cells) {
        switch (kind) {
            case 0: v = -static_cast<double>(rng() % 3); break;                  // heavy ties
            case 1: v = static_cast<double>(static_cast<int>(rng() % 41) - 20); break;
            case 2: v = rng() % 4 == 0 ? huge[rng() % std::size(huge)] : static_cast<double>(rng() % 5); break;
            case 3: v = static_cast<double>(static_cast<int>(rng() % 64) - 32) / 8.0; break;  // dyadic
            case 4: v = std::uniform_real_distribution<double>(-1e3, 1e3)(rng); break;
            default: v = (rng() % 2 ? 1e300 : -1e-300) * static_cast<double>(rng() % 3); break;
        }
    }
    return classify_weights(cells.data(), cells.size());
}

// Runs `w` through every route; counts the ones that differ from `expected`.
// Each route also gets the same weights in padded rows (the form the
// routes scan in whole vectors), the padding full of finite junk that must
// never be chosen.
int count_route_mismatches(const WeightMatrix& w, WeightClass cls, const Cols& expected) {
    static std::mt19937_64 junk(31);
    const double fillers[] = {0.0, -0.0, 1e15, -1e15, 3.0, -2.5, 1e300};
    const std::size_t stride = padded_stride_for(w.cols) + (junk() % 2) * 8;
    std::vector<double> padded(w.rows * stride);
    for (std::size_t r = 0; r < w.rows; ++r) {
        for (std::size_t j = 0; j < stride; ++j) {
            padded[r * stride + j] = j < w.cols ? w.cells[r * w.cols + j] : fillers[junk() % std::size(fillers)];
        }
    }
    WeightMatrix wide = w;
    wide.cells = padded.data();
    wide.padded_stride = stride;
    // The block of equal rows stored once, after junk rows that must not be
    // read, in padded rows and in contiguous ones.
    std::vector<double> junk_rows;
    WeightMatrix shared = w, shared_wide = wide;
    if (w.equal_rows_from < w.rows) {
        const std::size_t kept = w.equal_rows_from + 1;
        junk_rows.assign(padded.begin(), padded.begin() + static_cast<std::ptrdiff_t>(kept * stride));
        junk_rows.resize(w.rows * stride, std::numeric_limits<double>::quiet_NaN());
        shared_wide.cells = junk_rows.data();
        shared_wide.shared_equal_rows = true;
        shared.shared_equal_rows = true;  // rows stored as they are: the block's rows just repeat
    }
    int mismatches = 0;
    for (const RouteCase& rc : routes_for(cls)) {
        for (const WeightMatrix& m : {w, wide, shared, shared_wide}) {
            Cols col(w.rows, 12345);
            optimal_assignment_into(m, cls, col.data(), {rc.route, rc.isa});
            if (col != expected) ++mismatches;
        }
    }
    return mismatches;
}

void test_routes_random_matrices() {
    std::mt19937_64 rng(77);
    int mismatches = 0, small = 0, matrices = 0;
    for (int round = 0; round < 1500; ++round) {
        const std::size_t nc = 1 + rng() % (round < 1000 ? 12 : 70);
        const std::size_t nr = 1 + rng() % nc;
        std::vector<double> W(nr * nc);
        const WeightClass cls = random_weights(rng, round % 6, W);
        if (round % 6 < 3) CHECK(cls == WeightClass::small_integers);
        small += cls == WeightClass::small_integers;
        const Cols expected = tavelin::reference_assignment(W.data(), nr, nc);
        mismatches += count_route_mismatches({W.data(), nr, nc, false}, cls, expected);
        // The same problem given as negated cells.
        std::vector<double> C(W.size());
        for (std::size_t i = 0; i < W.size(); ++i) C[i] = -W[i];
        mismatches += count_route_mismatches({C.data(), nr, nc, true}, cls, expected);
        matrices += 2;
    }
    CHECK(mismatches == 0);
    CHECK(small > 600);
    std::printf("  routes: %d random matrices, %d of them small-integer, %d mismatches\n", matrices,
                2 * small, mismatches);
}

// Square matrices of the placement shape: nS home-slot rows over nO opponent
// columns with costs from a small range (ties everywhere), some infeasible
// (1e15), dummy rows at p and dummy columns at 0.0, negated.
void test_routes_placement_shape() {
    std::mt19937_64 rng(4242);
    int mismatches = 0, hinted_mismatches = 0, matrices = 0;
    for (int round = 0; round < 1200; ++round) {
        const std::size_t nS = rng() % (round < 900 ? 14 : 60);
        const std::size_t nO = rng() % (round < 900 ? 14 : 60);
        const std::size_t N = nS + nO;
        if (N == 0) continue;
        const double share = static_cast<double>(rng() % 90) / 100.0;  // infeasible share
        const int spread = 1 + static_cast<int>(rng() % 12);
        double p = static_cast<double>(rng() % 40);
        if (round % 10 == 0) p = 1e15;          // as dear as an infeasible pair
        if (round % 10 == 1) p = 2e15;          // beyond the small-integer range
        if (round % 10 == 2) p = 0.5;           // not an integer
        if (round % 10 == 3) p = -3.0;
        std::vector<double> A(N * N, 0.0);
        for (std::size_t r = 0; r < N; ++r) {
            for (std::size_t k = 0; k < nO; ++k) {
                if (r >= nS) {
                    A[r * N + k] = p;
                } else if (std::uniform_real_distribution<double>(0, 1)(rng) < share) {
                    A[r * N + k] = 1e15;
                } else {
                    A[r * N + k] = static_cast<double>(rng() % static_cast<std::uint64_t>(spread));
                }
            }
        }
        std::vector<double> W(N * N);
        for (std::size_t i = 0; i < W.size(); ++i) W[i] = -A[i];
        const WeightClass cls = classify_weights(A.data(), A.size());
        const Cols expected = tavelin::reference_assignment(W.data(), N, N);
        mismatches += count_route_mismatches({A.data(), N, N, true}, cls, expected);
        hinted_mismatches += count_route_mismatches({A.data(), N, N, true, nS, nO}, cls, expected);
        matrices += 2;
    }
    CHECK(mismatches == 0);
    CHECK(hinted_mismatches == 0);
    std::printf("  routes: %d placement-shaped matrices, %d + %d mismatches\n", matrices, mismatches,
                hinted_mismatches);
}

// The placement route (the matrix's structure, 32-bit keys) against the
// reference on the whole matrix: the same column for every row, on every
// instruction set. Costs are small whole numbers with many ties and zeros,
// some pairings not allowed, p of every sign; the route must decline
// exactly when its bounds or whole numbers fail, never answer wrongly.
void test_placement_route() {
    std::mt19937_64 rng(5150);
    int mismatches = 0, declined = 0, applied = 0;
    for (int round = 0; round < 3000; ++round) {
        const std::size_t nS = rng() % (round < 2000 ? 9 : 40), nO = rng() % (round < 2000 ? 9 : 40);
        const std::size_t N = nS + nO;
        const double share = static_cast<double>(rng() % 80) / 100.0;  // not allowed
        const int spread = 1 + static_cast<int>(rng() % 6);
        const double ps[] = {0.0, 3.0, 40.0, -2.0, 1e9, 0.5, 6600.0};
        const double p = ps[rng() % std::size(ps)];
        std::vector<double> K(nS * nO);
        for (double& c : K) {
            c = std::uniform_real_distribution<double>(0, 1)(rng) < share ? 1e15
                : round % 5 == 0                                           ? -static_cast<double>(rng() % 4)
                                                                           : static_cast<double>(rng() % spread);
        }
        std::vector<double> W(N * N, 0.0);
        for (std::size_t r = 0; r < N; ++r) {
            for (std::size_t k = 0; k < nO; ++k) W[r * N + k] = -(r < nS ? K[r * nO + k] : p);
        }
        const Cols expected = tavelin::reference_assignment(W.data(), N, N);
        const bool whole = p == std::trunc(p);
        for (const Isa isa : available_isas()) {
            Cols got(N, 12345);
            if (!place_on_structure({K.data(), nO, nS, nO, p}, got.data(), isa)) {
                ++declined;
                if (whole && p != 1e9) ++mismatches;  // within its bounds the route must answer
                continue;
            }
            ++applied;
            if (!whole || got != expected) ++mismatches;
        }
    }
    CHECK(mismatches == 0);
    CHECK(applied > declined);
    std::printf("  placement route: %d placements, %d declined, %d mismatches\n", applied + declined, declined,
                mismatches);
}

// Hints on general matrices that have such blocks: equal trailing rows and
// equal trailing columns, rectangular too, with all kinds of weights.
void test_routes_equal_blocks() {
    std::mt19937_64 rng(99);
    int mismatches = 0;
    for (int round = 0; round < 1500; ++round) {
        const std::size_t nc = 1 + rng() % 16;
        const std::size_t nr = 1 + rng() % nc;
        const std::size_t rows_from = rng() % (nr + 1);
        const std::size_t cols_from = rng() % (nc + 1);
        std::vector<double> W(nr * nc);
        random_weights(rng, round % 5, W);
        for (std::size_t r = 0; r < nr; ++r) {
            for (std::size_t c = cols_from; c < nc; ++c) W[r * nc + c] = W[r * nc + cols_from];
        }
        for (std::size_t r = rows_from; r < nr; ++r) {
            for (std::size_t c = 0; c < nc; ++c) W[r * nc + c] = W[rows_from * nc + c];
        }
        const WeightClass cls = classify_weights(W.data(), W.size());
        const Cols expected = tavelin::reference_assignment(W.data(), nr, nc);
        mismatches += count_route_mismatches({W.data(), nr, nc, false, rows_from, cols_from}, cls, expected);
    }
    CHECK(mismatches == 0);
}

void test_weight_classes() {
    const double small[] = {0.0, -0.0, 3.0, -kSmallIntegerBound, kSmallIntegerBound, 1e15};
    CHECK(classify_weights(small, std::size(small)) == WeightClass::small_integers);
    const double over[] = {1.0, 2.0 * kSmallIntegerBound};
    CHECK(classify_weights(over, 2) == WeightClass::finite);
    const double fraction[] = {1.0, 0.5};
    CHECK(classify_weights(fraction, 2) == WeightClass::finite);
    const double odd[] = {1.0, kNaN};
    CHECK(classify_weights(odd, 2) == WeightClass::unknown);
    const double inf[] = {kInf};
    CHECK(classify_weights(inf, 1) == WeightClass::unknown);
    CHECK(classify_weights(nullptr, 0) == WeightClass::small_integers);
    CHECK(isa_available(Isa::scalar) && isa_available(Isa::best));
    // The vector route of the architecture is built (GCC and Clang) and runs.
#if defined(__GNUC__) && defined(__x86_64__)
    CHECK(isa_available(Isa::sse2));
#endif
#if defined(__GNUC__) && defined(__aarch64__)
    CHECK(isa_available(Isa::neon));
#endif
    std::printf("  routes compared with the reference:");
    const std::pair<Isa, const char*> names[] = {
        {Isa::scalar, "scalar"}, {Isa::sse2, "sse2"}, {Isa::avx2, "avx2"}, {Isa::avx512, "avx512"}, {Isa::neon, "neon"}};
    for (const auto& [isa, name] : names) {
        if (isa_available(isa)) std::printf(" %s", name);
    }
    std::printf("\n");
}

}  // namespace

int main() {
    const std::pair<const char*, void (*)()> tests[] = {
        {"team slots", test_team_slots},
        {"cost worked example", test_cost_worked_example},
        {"cost rules", test_cost_rules},
        {"cost shapes and failures", test_cost_shapes_and_failures},
        {"cost against reference", test_cost_against_reference},
        {"cost with whole slots against reference", test_cost_whole_slots_against_reference},
        {"slot table on every route", test_slot_table_routes},
        {"forbidden index", test_forbidden_index},
        {"assignment examples", test_assignment_examples},
        {"assignment in placement", test_assignment_in_placement},
        {"home games against reference", test_home_games_against_reference},
        {"price and place", test_price_and_place},
        {"cost: separation at its edges", test_cost_separation_edges},
        {"cost equal to the marker", test_cost_equal_to_marker},
        {"assignment random", test_assignment_random},
        {"assignment bad weights end", test_assignment_bad_weights_end},
        {"weight classes", test_weight_classes},
        {"routes on random matrices", test_routes_random_matrices},
        {"routes on placement-shaped matrices", test_routes_placement_shape},
        {"routes with equal blocks", test_routes_equal_blocks},
        {"placement route", test_placement_route},
    };
    for (const auto& [name, test] : tests) {
        try {
            test();
        } catch (const InternalFailure& e) {
            ++g_failures;
            std::fprintf(stderr, "%s: unexpected failure \"%s\" at %s:%u\n", name, e.text.c_str(),
                         e.where.file_name(), static_cast<unsigned>(e.where.line()));
        } catch (const std::exception& e) {
            ++g_failures;
            std::fprintf(stderr, "%s: unexpected exception: %s\n", name, e.what());
        }
    }
    std::printf("kernel_tests: %d checks, %d failed\n", g_checks, g_failures);
    return g_failures == 0 ? 0 : 1;
}

// The two builders behind write_cost_matrix (cost_matrix.cpp), and what they
// share: the closeness rule and the writing of cells.
//
//   * whole_slots.cpp: home slots and used slots that are small whole numbers
//     (every timetable's case): bit sets of used slots, no sorting;
//   * general_slots.cpp: any slot values: the home slots sorted once and
//     each team's nearest used slots found by binary search.
// Both follow the same rules cell for cell and give the same bits.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "cost/cost_matrix.hpp"

namespace tavelin {

// A used slot t blocks s when it is the same slot or lies too close to it.
// Both tests are needed: for t = s = +-infinity the distance is NaN, so such
// a t is equal to s without being close to it.
inline bool close(double t, double s, double r_max) { return r_max > std::fabs(t - s) + 1.0; }

// Writes cells into a target and keeps track of the largest magnitude of a
// cost written. (Every writer copies what it needs from its target, so
// that stores into cells cannot be taken to change it.)
class CellWriter {
public:
    using Cell = double;

    explicit CellWriter(const CostTarget& target)
        : cells_(target.cells), stride_(target.row_stride), infeasible_(target.infeasible) {}

    double* row(std::size_t i) const { return cells_ + i * stride_; }
    double infeasible_value() const { return infeasible_; }
    void infeasible(double* cell) const { *cell = infeasible_; }

    // The cell of a pairing that is allowed and costs `sum`; `tally`, kept
    // by the caller across cells and handed to commit, notes its magnitude.
    using Tally = std::uint64_t;
    Tally tally() const { return largest_; }
    double cost_value(std::int64_t sum, Tally& tally) const {
        const std::uint64_t magnitude =
            sum < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(sum) : static_cast<std::uint64_t>(sum);
        tally = magnitude > tally ? magnitude : tally;
        // A cost equal to the marker cannot be told from it.
        const double value = static_cast<double>(sum);
        return value == kInfeasible ? infeasible_ : value;
    }
    void commit(Tally tally) { largest_ = tally; }
    void cost(double* cell, std::int64_t sum) {
        Tally t = tally();
        *cell = cost_value(sum, t);
        commit(t);
    }

    std::uint64_t largest() const { return largest_; }

private:
    double* cells_;
    std::size_t stride_;
    double infeasible_;
    std::uint64_t largest_ = 0;
};

// Writes cells as scaled 32-bit integers (see ScaledTarget) and notes
// whether every cost stayed within the bound.
class ScaledWriter {
public:
    using Cell = std::int32_t;

    explicit ScaledWriter(const ScaledTarget& target)
        : cells_(target.cells),
          stride_(target.row_stride),
          scale_(target.scale),
          bound_(target.bound),
          infeasible_(target.infeasible) {}

    std::int32_t* row(std::size_t i) const { return cells_ + i * stride_; }
    std::int32_t infeasible_value() const { return static_cast<std::int32_t>(infeasible_); }
    void infeasible(std::int32_t* cell) const { *cell = infeasible_value(); }

    using Tally = bool;  // whether every cost fitted
    Tally tally() const { return fits_; }
    std::int32_t cost_value(std::int64_t sum, Tally& tally) const {
        const bool fits = sum >= -bound_ && sum <= bound_;
        tally = tally && fits;
        // A cost equal to the marker counts as one, as in the double form.
        return !fits || sum == static_cast<std::int64_t>(kInfeasible) ? infeasible_value()
                                                                        : static_cast<std::int32_t>(sum * scale_);
    }
    void commit(Tally tally) { fits_ = tally; }
    void cost(std::int32_t* cell, std::int64_t sum) {
        Tally t = tally();
        *cell = cost_value(sum, t);
        commit(t);
    }

    bool fits() const { return fits_; }
    std::int64_t scale() const { return scale_; }
    std::int64_t bound() const { return bound_; }

private:
    std::int32_t* cells_;
    std::size_t stride_;
    std::int64_t scale_, bound_, infeasible_;
    bool fits_ = true;
};

// Both builders take S and O non-empty, with the index tests already made,
// and write through either writer.

// Returns false, having written nothing, unless every home slot is NaN or a
// whole number in [0, 2^16) and so is every used slot of the home team.
template <class Writer>
bool write_whole_slots(const StridedMatrix& x, std::uint64_t a, std::span<const double> S,
                       std::span<const std::uint64_t> O, const CostModel& model, Writer& out);

template <class Writer>
void write_general_slots(const StridedMatrix& x, std::uint64_t a, std::span<const double> S,
                         std::span<const std::uint64_t> O, const CostModel& model, Writer& out);

}  // namespace tavelin

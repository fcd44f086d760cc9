#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "fcast/code/ErasureCode.h"

namespace ondavox::fcast {

// The weight of the group's block |index| in the group symbols of |combination|: a Cauchy
// matrix, so that any n combinations of one id, taken over any n of a group's blocks, can be
// solved for those blocks' symbols of that id.
std::uint8_t GroupCoefficient(int combination, int index);

// Group symbols combine the blocks of a group (consecutive blocks of the same size): the group
// symbol (id, combination) is the sum over the group's blocks of GroupCoefficient(combination,
// block's index) times the block's symbol of that id. It is the symbol of that id of a virtual
// block, the same sum of the blocks' source symbols, so a sender computes many of them with one
// pass over the group and the code's fast encoder.
//
// A receiver that lacks a few source symbols in several of a group's blocks can pool that
// group's symbols: once the blocks' shortfall (missing source symbols not made up by their own
// repair symbols) is no more than the group symbols it holds, one joint system usually fixes
// them all. GroupCoder builds that system (the received symbols less what the known source
// symbols contribute), solves its weights by Gauss-Jordan elimination with ISA-L's vectorised
// multiply-adds on whole rows, then computes the missing symbols in one matrix product; a
// system that falls short tells which group symbols added nothing, so that the caller can
// drop them and wait for others.
//
// Owned by one thread (the sender's or the receiver's).
class GroupCoder {
 public:
  // One block of the group. |source| has k places; the missing ones' contents are ignored and
  // overwritten, with the rebuilt symbols when the system is solved.
  struct Block {
    std::uint8_t* const* source = nullptr;
    std::span<const std::uint8_t> missing;    // ascending; empty when the block is whole
    std::span<const std::uint8_t> repairIds;  // its own repair symbols, fewer than missing
    const std::uint8_t* const* repair = nullptr;
  };
  struct GroupSymbol {
    std::uint8_t id = 0;
    std::uint8_t combination = 0;
    const std::uint8_t* data = nullptr;
  };

  // Writes into |out| the group symbols |symbols| (data ignored) of the blocks |blocks| (each
  // k source symbols), one buffer of |symbolSize| bytes each.
  void Encode(int k, std::size_t symbolSize, std::span<const std::uint8_t* const* const> blocks,
              std::span<const GroupSymbol> symbols, std::uint8_t* const* out);

  // Rebuilds the missing source symbols of |blocks| from their own repair symbols and the
  // group symbols |symbols|. True when done; otherwise false, with the indices of the group
  // symbols that added nothing to the others in |useless| (ascending).
  bool Solve(int k, std::size_t symbolSize, std::span<const Block> blocks,
             std::span<const GroupSymbol> symbols, std::vector<std::size_t>* useless);

 private:
  // The joint system of a Solve: its unknowns are the missing source symbols, block after
  // block; its equations the blocks' own repair symbols, then the group symbols. A row holds
  // the equation's weights, then the identity that records which equations it has become a
  // sum of; its residual is what its received symbol leaves once the known sources are out.
  struct System {
    int k = 0;
    std::size_t symbolSize = 0;
    std::vector<std::size_t> firstColumn;  // each block's first unknown; then their count
    std::size_t columns = 0;
    std::size_t ownRows = 0;
    std::size_t rows = 0;
    std::size_t width = 0;  // bytes of a row, padded for the vectorised kernel
  };

  static System Shape(int k, std::size_t symbolSize, std::span<const Block> blocks,
                      std::size_t groupSymbols);
  // Fills rows_ and residuals_; the blocks' missing places are zeroed.
  void BuildEquations(const System& system, std::span<const Block> blocks,
                      std::span<const GroupSymbol> symbols);
  void BuildOwnRows(const System& system, std::span<const Block> blocks);
  void BuildGroupRows(const System& system, std::span<const Block> blocks,
                      std::span<const GroupSymbol> symbols);
  // Reduces the weights to one pivot per unknown (pivotOf_); false, with the group symbols
  // that became no pivot in |useless|, when some unknown has none.
  bool Eliminate(const System& system, std::vector<std::size_t>* useless);
  // Writes each missing symbol from the residuals the pivot rows name.
  void Apply(const System& system, std::span<const Block> blocks);
  std::uint8_t* Row(const System& system, std::size_t r) { return &rows_[r * system.width]; }
  std::uint8_t* Residual(const System& system, std::size_t r) {
    return &residuals_[r * system.symbolSize];
  }

  // |virtual_| := the sum of |blocks| weighted by |combination|'s coefficients.
  void Mix(int k, std::size_t symbolSize, std::span<const std::uint8_t* const* const> blocks,
           int combination);

  const std::unique_ptr<ErasureCode> code_ = MakeErasureCode();
  std::vector<std::uint8_t> virtual_;
  std::vector<std::uint8_t*> virtualPlaces_;
  std::vector<std::uint8_t> rows_;
  std::vector<std::uint8_t> residuals_;
  std::vector<std::uint8_t> coefficients_;
  std::vector<unsigned char> tables_;
  std::vector<std::size_t> pivotOf_;  // the pivot row of each unknown
};

}  // namespace ondavox::fcast

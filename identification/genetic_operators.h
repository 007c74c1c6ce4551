#pragma once
// Operators shared by the genetic algorithms of the workbench (machine identification and
// speed-regulator tuning): the mutation factor, the fitness of a cost and the stable sort
// of a population, best first.

#include <span>
#include <utility>

namespace mas {

// Factor of a mutation of amplitude amp from one draw r of the shared generator:
// (0.5 - (r mod 5000) 0.0002) amp + 1, between 1 - 0.4998 amp and 1 + 0.5 amp.
inline double MutationFactor(int r, double amp) { return (0.5 - (r % 5000) * 0.0002) * amp + 1; }

// Fitness of a candidate whose cost is exactly 0.
inline constexpr double kFitnessOfZeroCost = 1e20;

// Fitness of a cost: its inverse, 1e20 for a cost of 0.
inline double FitnessOfCost(double cost) { return cost == 0.0 ? kFitnessOfZeroCost : 1 / cost; }

// Bubble sort of a population, best (largest fitness) first; equal fitnesses keep their
// order. swap_rest(i) swaps whatever else the population keeps for individuals i and i+1.
template <class SwapRest>
void StableSortBestFirst(std::span<double> fitness, SwapRest&& swap_rest) {
  bool swapped = true;
  while (swapped) {
    swapped = false;
    for (std::size_t i = 0; i + 1 < fitness.size(); ++i) {
      if (fitness[i] < fitness[i + 1]) {
        std::swap(fitness[i], fitness[i + 1]);
        swap_rest(static_cast<int>(i));
        swapped = true;
      }
    }
  }
}

}  // namespace mas

// A known structure as a selection of the model: every quad whose outer and
// inner pairs are both pairs of the structure (whatever else the structure
// holds: lone, crossing or non-canonical pairs block none), and the pairs no
// such quad forms. No I/O; failures are thrown.
#pragma once

#include <cstdint>
#include <vector>

#include "core/dot_bracket.h"
#include "model/quad_model.h"

// A structure encoded: chosen holds quad_count + 1 bytes (chosen[v] = 1 for a
// variable v of the selection, 1-based); the other lists hold the structure's
// pairs that no quad of the selection forms, each in one list (the first that
// applies, in this order), sorted by i.
struct EncodedStructure {
  std::vector<uint8_t> chosen;
  std::vector<BasePair> pseudoknotted;  // crossing or touching a pair of a chosen quad, or a pair kept
                                        // before it (pairs taken by i, then j)
  std::vector<BasePair> mismatched;     // letters other than A-U, G-C, G-U (either way round)
  std::vector<BasePair> out_of_range;   // j - i <= min_distance, or j beyond the pairing window of i
  std::vector<BasePair> lone;           // representable, but in no chosen quad
};

// Encodes pairs (1-based, i < j, any order, within 1..model.n) for model,
// whose pairs need j - i > min_distance.
EncodedStructure EncodeStructure(const QuadModel& model, int32_t min_distance, const std::vector<BasePair>& pairs);

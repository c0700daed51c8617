#pragma once
// Feeding the board's protocol directly, without a line in between.

#include <string>
#include <vector>

#include "sim/LoaderProtocol.h"

namespace feed_board {

// Everything the board emitted, in order, as one text.
inline std::string Bytes(const std::vector<sim::Emission>& emissions) {
    std::string text;
    for (const sim::Emission& emission : emissions) {
        text += emission.bytes;
    }
    return text;
}

// What the board answers to input.
inline std::string Answer(sim::LoaderProtocol& board, const std::string& input) {
    return Bytes(board.Feed(input));
}

}  // namespace feed_board

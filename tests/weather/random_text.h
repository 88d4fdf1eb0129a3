#pragma once
// Malformed inputs for the parsers' randomized tests: pieces that matter to a parser, joined
// at random, with now and then a long run of one byte to push past the fields' sizes.

#include <random>
#include <string>
#include <vector>

struct RandomText {
    std::vector<std::string> pieces;
    std::string runBytes;  // a run repeats one of these
    unsigned piecesAtMost;
    unsigned runOneIn;  // about one piece in this many is a run instead
    unsigned runAtMost;
    size_t sizeAtMost;

    std::string operator()(std::mt19937& random) const {
        std::string text;
        const unsigned count = random() % piecesAtMost;
        for (unsigned i = 0; i < count; ++i) {
            if (random() % runOneIn == 0) {
                text.append(random() % runAtMost, runBytes[random() % runBytes.size()]);
            } else {
                text += pieces[random() % pieces.size()];
            }
        }
        if (text.size() > sizeAtMost) text.resize(sizeAtMost);
        return text;
    }
};

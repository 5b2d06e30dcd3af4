// The identity load, which reads an EEPROM only up to the piece that holds the end of its text, held
// against a load of the whole EEPROM on one image: the identity test's table and the identity fuzz
// target share it.
//
// Plain C++: no test framework.
#pragma once

#include "identity/IdentityRecord.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace pelmux::shared {

using IdentityImage = std::uint8_t[IdentityRecord::size];
inline constexpr int identityPieces = static_cast<int>(IdentityRecord::size / idEepromReadPiece);

// An EEPROM image read piece by piece, of which the piece `failing` (-1: none) fails.
class ImagePieces final : public EepromPieces {
public:
    ImagePieces(const IdentityImage& image, int failing) : image_(image), failing_(failing) {}
    bool read(std::uint32_t offset, std::span<std::uint8_t, idEepromReadPiece> piece) override
    {
        ++reads_;
        if (static_cast<int>(offset / idEepromReadPiece) == failing_)
            return false;
        std::memcpy(piece.data(), image_ + offset, piece.size());
        return true;
    }
    int reads() const { return reads_; }

private:
    const IdentityImage& image_;
    int failing_;
    int reads_ = 0;
};

// Loads `image` with its piece `failing` (-1: none) failing, and answers how the load differs from
// a load of the whole EEPROM (every piece read, a failure anywhere leaving the record invalid);
// empty when it does not. A failure in a piece after the one that holds the text's end is never
// read: the load then answers as the whole load without the failure. The load must have read
// exactly the pieces up to the text's end, or up to the failure before it.
inline std::string leanLoadDifference(const IdentityImage& image, int failing)
{
    const auto* end =
        std::find_if(image, image + IdentityRecord::size, [](std::uint8_t b) { return b == 0 || b == 0xFF; });
    const int endPiece = static_cast<int>(std::min<std::ptrdiff_t>(end - image, IdentityRecord::size - 1) /
                                          static_cast<std::ptrdiff_t>(idEepromReadPiece));
    const bool failsFirst = failing >= 0 && failing <= endPiece;

    IdentityRecord whole(1);
    if (!failsFirst)
        whole.adoptImage(image);
    IdentityRecord lean(1);
    ImagePieces pieces(image, failing);
    const bool valid = lean.loadFrom(pieces);

    std::string difference;
    const auto note = [&difference](const std::string& what) { difference += what + "; "; };
    if (valid != lean.valid() || lean.valid() != whole.valid())
        note("valid " + std::to_string(lean.valid()) + " against " + std::to_string(whole.valid()));
    if (lean.length() != whole.length())
        note("length " + std::to_string(lean.length()) + " against " + std::to_string(whole.length()));
    // The text and the byte after it (0xFF in both) are what every search and rewrite sees.
    const std::size_t seen = std::min<std::size_t>(whole.length() + 1, IdentityRecord::size);
    if (lean.length() == whole.length() && std::memcmp(lean.text(), whole.text(), seen) != 0)
        note("the text differs");
    const int expectedReads = failsFirst ? failing + 1 : endPiece + 1;
    if (pieces.reads() != expectedReads)
        note(std::to_string(pieces.reads()) + " pieces read, not " + std::to_string(expectedReads));
    return difference;
}

} // namespace pelmux::shared

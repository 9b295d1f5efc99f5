#include "rtppack/rtppack.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace rtppack {
namespace {

constexpr std::uint8_t kNalTypeSlice = 1;
constexpr std::uint8_t kNalTypeIdr = 5;
constexpr std::uint8_t kNalTypeSei = 6;
constexpr std::uint8_t kNalTypeAud = 9;

constexpr std::uint8_t kJpegSoi = 0xD8;
constexpr std::uint8_t kJpegEoi = 0xD9;
constexpr std::uint8_t kMpeg4VopStart = 0xB6;

// Offset of the byte behind the next 00 00 01 at or after `from`, or the size when none.
std::size_t NextStartCode(const Bytes& data, std::size_t from) {
    for (std::size_t i = from; i + 3 <= data.size(); ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return i + 3;
    }
    return data.size();
}

// The payloads between start codes; trailing zero bytes belong to the next start code.
std::vector<Bytes> SplitAtStartCodes(const Bytes& stream) {
    std::vector<Bytes> units;
    std::size_t begin = NextStartCode(stream, 0);
    while (begin < stream.size()) {
        std::size_t next = NextStartCode(stream, begin);
        std::size_t end = next == stream.size() ? next : next - 3;
        while (end > begin && stream[end - 1] == 0) --end;
        units.emplace_back(stream.begin() + begin, stream.begin() + end);
        begin = next;
    }
    return units;
}

bool IsSlice(const Bytes& nal) {
    std::uint8_t type = nal[0] & 0x1F;
    return type >= kNalTypeSlice && type <= kNalTypeIdr;
}

bool StartsAccessUnit(const Bytes& nal) {
    std::uint8_t type = nal[0] & 0x1F;
    if (type >= kNalTypeSei && type <= kNalTypeAud) return true;
    // first_mb_in_slice is ue(v); it is 0 exactly when its first bit is 1.
    return IsSlice(nal) && nal.size() > 1 && (nal[1] & 0x80);
}

}  // namespace

Bytes ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool AccessUnit::IsKey() const {
    return std::any_of(nalUnits.begin(), nalUnits.end(),
                       [](const Bytes& nal) { return (nal[0] & 0x1F) == kNalTypeIdr; });
}

std::vector<AccessUnit> SplitH264AccessUnits(const Bytes& stream) {
    std::vector<AccessUnit> units;
    bool currentHasSlice = false;
    for (Bytes& nal : SplitAtStartCodes(stream)) {
        if (nal.empty()) continue;
        if (units.empty() || (currentHasSlice && StartsAccessUnit(nal))) {
            units.emplace_back();
            currentHasSlice = false;
        }
        currentHasSlice = currentHasSlice || IsSlice(nal);
        units.back().nalUnits.push_back(std::move(nal));
    }
    return units;
}

Bytes ToAnnexB(const AccessUnit& unit) {
    Bytes out;
    for (const Bytes& nal : unit.nalUnits) {
        out.insert(out.end(), {0, 0, 1});
        out.insert(out.end(), nal.begin(), nal.end());
    }
    return out;
}

std::vector<Bytes> SplitJpegPictures(const Bytes& stream) {
    std::vector<Bytes> pictures;
    std::size_t begin = 0;
    while (begin + 1 < stream.size()) {
        if (stream[begin] != 0xFF || stream[begin + 1] != kJpegSoi) {
            ++begin;
            continue;
        }
        // Entropy-coded data escape every FF, so the first FF D9 ends the picture.
        std::size_t end = begin + 2;
        while (end + 1 < stream.size() && !(stream[end] == 0xFF && stream[end + 1] == kJpegEoi)) ++end;
        if (end + 1 >= stream.size()) break;
        pictures.emplace_back(stream.begin() + begin, stream.begin() + end + 2);
        begin = end + 2;
    }
    return pictures;
}

std::vector<Bytes> SplitMpeg4Frames(const Bytes& stream) {
    std::vector<Bytes> frames;
    std::size_t frameBegin = NextStartCode(stream, 0);
    if (frameBegin == stream.size()) return frames;
    frameBegin -= 3;
    bool inVop = false;
    for (std::size_t code = NextStartCode(stream, frameBegin); code < stream.size();
         code = NextStartCode(stream, code)) {
        if (inVop) {
            frames.emplace_back(stream.begin() + frameBegin, stream.begin() + code - 3);
            frameBegin = code - 3;
        }
        inVop = stream[code] == kMpeg4VopStart;
    }
    if (inVop) frames.emplace_back(stream.begin() + frameBegin, stream.end());
    return frames;
}

}  // namespace rtppack

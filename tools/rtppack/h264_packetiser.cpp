#include "rtppack/rtppack.h"

#include <algorithm>

namespace rtppack {
namespace {

constexpr std::uint8_t kNalTypeSei = 6;
constexpr std::uint8_t kNalTypeAud = 9;
constexpr std::uint8_t kNalTypeStapA = 24;
constexpr std::uint8_t kNalTypeFuA = 28;
constexpr std::uint8_t kFuStart = 0x80;
constexpr std::uint8_t kFuEnd = 0x40;
constexpr std::size_t kStapHeader = 1;
constexpr std::size_t kStapUnitSize = 2;
constexpr std::size_t kFuHeaders = 2;

bool IsParameterSetLike(const Bytes& nal) {
    std::uint8_t type = nal[0] & 0x1F;
    return type >= kNalTypeSei && type <= kNalTypeAud;
}

class H264Writer {
public:
    H264Writer(std::uint32_t timestamp, const H264Options& options)
        : m_timestamp(timestamp), m_options(options) {}

    void AddNal(const Bytes& nal) {
        if (nal.size() <= m_options.mtu) {
            Emit(Bytes(nal));
        } else {
            AddFragments(nal);
        }
    }

    // RFC 6184 section 5.7.1: one STAP-A header, then each unit behind its 16-bit size.
    void AddAggregate(const std::vector<const Bytes*>& nals) {
        if (nals.size() == 1) return AddNal(*nals.front());
        Bytes payload{0};
        std::uint8_t forbiddenAndNri = 0;
        for (const Bytes* nal : nals) {
            forbiddenAndNri = std::max<std::uint8_t>(forbiddenAndNri, (*nal)[0] & 0xE0);
            payload.push_back(static_cast<std::uint8_t>(nal->size() >> 8));
            payload.push_back(static_cast<std::uint8_t>(nal->size()));
            payload.insert(payload.end(), nal->begin(), nal->end());
        }
        payload[0] = forbiddenAndNri | kNalTypeStapA;
        Emit(std::move(payload));
    }

    std::vector<Packet> Finish() {
        if (!m_packets.empty()) m_packets.back().marker = true;
        return std::move(m_packets);
    }

private:
    // RFC 6184 section 5.8: the NAL header is split between the FU indicator and FU header.
    void AddFragments(const Bytes& nal) {
        const std::size_t chunk = m_options.mtu - kFuHeaders;
        for (std::size_t offset = 1; offset < nal.size(); offset += chunk) {
            std::size_t length = std::min(chunk, nal.size() - offset);
            std::uint8_t header = nal[0] & 0x1F;
            if (offset == 1) header |= kFuStart;
            if (offset + length == nal.size()) header |= kFuEnd;
            Bytes payload{static_cast<std::uint8_t>((nal[0] & 0xE0) | kNalTypeFuA), header};
            payload.insert(payload.end(), nal.begin() + offset, nal.begin() + offset + length);
            Emit(std::move(payload));
        }
    }

    void Emit(Bytes payload) {
        Packet packet;
        packet.timestamp = m_timestamp;
        packet.payload = std::move(payload);
        m_packets.push_back(std::move(packet));
    }

    std::uint32_t m_timestamp;
    const H264Options& m_options;
    std::vector<Packet> m_packets;
};

}  // namespace

std::vector<Packet> PacketiseH264(const AccessUnit& unit, std::uint32_t timestamp,
                                  const H264Options& options) {
    if (options.mtu <= kFuHeaders) return {};
    H264Writer writer(timestamp, options);
    std::vector<const Bytes*> run;
    std::size_t runSize = kStapHeader;
    auto flushRun = [&] {
        if (!run.empty()) writer.AddAggregate(run);
        run.clear();
        runSize = kStapHeader;
    };
    for (const Bytes& nal : unit.nalUnits) {
        if (nal.empty()) continue;
        const std::size_t unitSize = kStapUnitSize + nal.size();
        if (!options.aggregateParameterSets || !IsParameterSetLike(nal) ||
            kStapHeader + unitSize > options.mtu) {
            flushRun();
            writer.AddNal(nal);
            continue;
        }
        if (runSize + unitSize > options.mtu) flushRun();
        run.push_back(&nal);
        runSize += unitSize;
    }
    flushRun();
    return writer.Finish();
}

}  // namespace rtppack

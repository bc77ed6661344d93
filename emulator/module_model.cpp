#include "emulator/module_model.h"

#include "core/command_frame.h"

#include <algorithm>

namespace zentrava::emu {

namespace {

constexpr int kMaxFaultParam = 600000;
constexpr int kHeaderLength = 6; // AF AF 00 00 AF plus the request marker

std::uint8_t requestHeaderByte(int i) {
    return i < int(kFrameHeader.size()) ? kFrameHeader[std::size_t(i)] : kRequestMarker;
}

std::uint8_t at(const QByteArray& bytes, int i) {
    return static_cast<std::uint8_t>(bytes[i]);
}

// What the buffer's front holds: a whole request, the start of one, or something that is
// neither and has to lose its first byte.
enum class Scan { Frame, NeedMore, Drop };

Scan scan(const QByteArray& buffer, int* length) {
    const int known = std::min(int(buffer.size()), kHeaderLength);
    for (int i = 0; i < known; ++i) {
        if (at(buffer, i) != requestHeaderByte(i))
            return Scan::Drop;
    }
    if (buffer.size() < 8)
        return Scan::NeedMore;
    const int code = at(buffer, 6);
    const int n = at(buffer, 7);
    if (!isKnownCommand(code) || n != payloadLength(code))
        return Scan::Drop;
    *length = 11 + n;
    if (buffer.size() < *length)
        return Scan::NeedMore;
    const bool ok = at(buffer, 8 + n) == frameChecksum(buffer, n) &&
                    at(buffer, 9 + n) == kCarriageReturn && at(buffer, 10 + n) == kLineFeed;
    return ok ? Scan::Frame : Scan::Drop;
}

void applyByteFault(QByteArray& reply, const Fault& fault) {
    const int n = at(reply, 7);
    const int param = faultParam(fault);
    switch (fault.kind) {
    case FaultKind::WrongCode:
        reply[6] = char(at(reply, 6) + 1);
        break;
    case FaultKind::BadHeader:
        reply[0] = '\0';
        break;
    case FaultKind::BadLength:
        reply[7] = char(n == 2 ? 4 : 2);
        break;
    case FaultKind::BadTerminator:
        reply[9 + n] = '\0';
        break;
    case FaultKind::ShortReply:
        reply.chop(std::min(param, int(reply.size())));
        break;
    case FaultKind::LongReply:
        reply.append(QByteArray(param, char(0xEE)));
        break;
    case FaultKind::NoiseFirst:
        reply.prepend(QByteArray(param, char(0x55)));
        break;
    case FaultKind::Silent:
    case FaultKind::Vanish:
        reply.clear();
        break;
    case FaultKind::None:
    case FaultKind::Delay:
    case FaultKind::Trickle:
    case FaultKind::Paced:
        break;
    }
}

} // namespace

const FaultInfo& faultInfo(FaultKind kind) {
    for (const FaultInfo& info : kFaultTable) {
        if (info.kind == kind)
            return info;
    }
    return kFaultTable[0];
}

int faultParam(const Fault& fault) {
    return fault.param > 0 ? fault.param : faultInfo(fault.kind).defaultParam;
}

QString faultText(const Fault& fault) {
    const FaultInfo& info = faultInfo(fault.kind);
    QString text = QString::fromLatin1(info.name.data(), qsizetype(info.name.size()));
    if (info.defaultParam > 0)
        text += QLatin1Char(':') + QString::number(faultParam(fault));
    return text;
}

std::vector<Reply> ModuleModel::feed(const QByteArray& bytes) {
    if (!m_present)
        return {};
    m_buffer.append(bytes);
    std::vector<Reply> replies;
    while (!m_buffer.isEmpty()) {
        int length = 0;
        const Scan result = scan(m_buffer, &length);
        if (result == Scan::NeedMore)
            break;
        if (result == Scan::Drop) {
            // One byte at a time, so a good request hiding inside a broken one is still found.
            m_discarded.append(m_buffer.front());
            m_buffer.remove(0, 1);
            continue;
        }
        replies.push_back(answer(m_buffer.left(length)));
        m_buffer.remove(0, length);
    }
    return replies;
}

void ModuleModel::takeOff() {
    m_present = false;
    m_buffer.clear();
}

void ModuleModel::putOn(const ModuleSettings& fresh) {
    m_settings = fresh;
    m_line = freshLine();
    m_present = true;
}

QByteArray ModuleModel::takeDiscarded() {
    QByteArray out;
    out.swap(m_discarded);
    return out;
}

Reply ModuleModel::answer(const QByteArray& request) {
    const int code = at(request, 6);
    const int n = payloadLength(code);
    // Odd codes write; the module carries out a write even when its answer is then lost.
    if (code % 2 == 1)
        store(code, request.mid(8, n));

    QByteArray bytes = request.left(8);
    bytes[5] = char(kReplyMarker);
    bytes.append(heldPayload(code));
    bytes.append(char(frameChecksum(bytes, n)));
    bytes.append(char(kCarriageReturn));
    bytes.append(char(kLineFeed));
    // The answer still goes out at the old line; whatever comes next is heard at the new one.
    if (code == command::kWriteSerial) {
        if (const std::optional<ModuleValue> line = decodePayload(CommandCode(code), bytes))
            m_line = *line;
    }

    Fault fault = m_standingFault;
    if (!m_queuedFaults.empty()) {
        fault = m_queuedFaults.front();
        m_queuedFaults.pop_front();
    }
    applyByteFault(bytes, fault);
    return Reply{request, bytes, fault};
}

QByteArray ModuleModel::heldPayload(int code) const {
    const ModuleSettings& s = m_settings;
    auto pair = [](int a, int b) { return payloadBytes({std::uint8_t(a), std::uint8_t(b)}); };
    switch (code) {
    case command::kWriteSerial:
    case command::kReadSerial:
        return pair(s.baudCode, s.parityCode);
    case command::kWriteDataRate:
    case command::kReadDataRate:
        return pair(s.dataRateCode, 0);
    case command::kWriteChannel:
    case command::kReadChannel:
        return pair(s.channel, 0);
    case command::kWriteId:
    case command::kReadId:
        return pair(s.id >> 8, s.id & 0xFF);
    case command::kWritePower:
    case command::kReadPower:
        return pair(s.power, 0);
    case command::kWriteFrequency:
    case command::kReadFrequency:
        return frequencyBytes(s.frequency);
    default:
        return QByteArray(payloadLength(code), '\0');
    }
}

void ModuleModel::store(int code, const QByteArray& payload) {
    ModuleSettings& s = m_settings;
    switch (code) {
    case command::kWriteSerial:
        s.baudCode = at(payload, 0);
        s.parityCode = at(payload, 1);
        break;
    case command::kWriteDataRate:
        s.dataRateCode = at(payload, 0);
        break;
    case command::kWriteChannel:
        s.channel = at(payload, 0);
        break;
    case command::kWriteId:
        s.id = std::uint16_t(at(payload, 0) << 8 | at(payload, 1));
        break;
    case command::kWritePower:
        s.power = at(payload, 0);
        break;
    case command::kWriteFrequency:
        for (std::size_t i = 0; i < s.frequency.size(); ++i)
            s.frequency[i] = at(payload, int(i));
        break;
    default:
        break;
    }
}

std::optional<Fault> ModuleModel::parseFault(QStringView text) {
    text = text.trimmed();
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    const QStringView name = colon < 0 ? text : text.left(colon);
    for (const FaultInfo& info : kFaultTable) {
        if (name.compare(QLatin1String(info.name.data(), qsizetype(info.name.size())),
                         Qt::CaseInsensitive) != 0)
            continue;
        Fault fault{info.kind, 0};
        if (colon < 0)
            return fault;
        if (info.defaultParam == 0)
            return std::nullopt;
        const QStringView digits = text.mid(colon + 1);
        const bool allDigits =
            !digits.isEmpty() && std::all_of(digits.begin(), digits.end(),
                                             [](QChar c) { return c >= u'0' && c <= u'9'; });
        if (!allDigits || digits.size() > 6)
            return std::nullopt;
        fault.param = digits.toInt();
        if (fault.param < 1 || fault.param > kMaxFaultParam)
            return std::nullopt;
        return fault;
    }
    return std::nullopt;
}

QStringList ModuleModel::faultNames() {
    QStringList names;
    for (const FaultInfo& info : kFaultTable)
        names.append(QString::fromLatin1(info.name.data(), qsizetype(info.name.size())));
    return names;
}

} // namespace zentrava::emu

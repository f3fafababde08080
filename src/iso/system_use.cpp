#include "iso/system_use.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <stdexcept>
#include <utility>

#include "iso/byte_order.h"
#include "iso/image_source.h"
#include "iso/limits.h"

using iso_bytes::getLe32;
using iso_bytes::putBoth32;

namespace system_use {

namespace {

// CE: block, offset and length of the next area, each both-endian.
constexpr size_t kCeBlock = 4;
constexpr size_t kCeOffset = 12;
constexpr size_t kCeLength = 20;
constexpr size_t kPxLength = 44;  // RRIP 1.12: mode, links, owner, group, serial
constexpr uint8_t kTfModifyAccessAttributes = 0x0E;
constexpr size_t kShortDate = 7;

bool is(const uint8_t* entry, const char* signature) {
    return entry[0] == signature[0] && entry[1] == signature[1];
}

// Calls `visit(entry, length)` for each whole entry of `bytes`; stops at a length that
// cannot be one (the rest is padding).
template <typename Visit>
void forEachEntry(const uint8_t* bytes, size_t size, Visit visit) {
    for (size_t at = 0; at + kEntryHeader <= size;) {
        const size_t length = bytes[at + 2];
        if (length < kEntryHeader || length > size - at) {
            return;
        }
        if (!visit(bytes + at, length)) {
            return;
        }
        at += length;
    }
}

void putEntryHeader(std::vector<uint8_t>& out, const char* signature, size_t length) {
    out.push_back(static_cast<uint8_t>(signature[0]));
    out.push_back(static_cast<uint8_t>(signature[1]));
    out.push_back(static_cast<uint8_t>(length));
    out.push_back(1);
}

void putBoth32To(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[8];
    putBoth32(bytes, 0, value);
    out.insert(out.end(), bytes, bytes + 8);
}

void putShortDate(std::vector<uint8_t>& out, std::time_t when) {
    std::tm utc{};
    gmtime_r(&when, &utc);
    out.push_back(static_cast<uint8_t>(std::clamp(utc.tm_year, 0, 255)));
    out.push_back(static_cast<uint8_t>(utc.tm_mon + 1));
    out.push_back(static_cast<uint8_t>(utc.tm_mday));
    out.push_back(static_cast<uint8_t>(utc.tm_hour));
    out.push_back(static_cast<uint8_t>(utc.tm_min));
    out.push_back(static_cast<uint8_t>(utc.tm_sec));
    out.push_back(0);  // GMT
}

std::vector<uint8_t> timesEntry(std::time_t modified) {
    std::vector<uint8_t> tf;
    putEntryHeader(tf, "TF", 5 + 3 * kShortDate);
    tf.push_back(kTfModifyAccessAttributes);
    for (int i = 0; i < 3; ++i) {
        putShortDate(tf, modified);
    }
    return tf;
}

// NM entries for `name`: a name longer than one entry holds goes into several, each but
// the last marked as continued.
std::vector<uint8_t> nameEntries(const std::string& name) {
    std::vector<uint8_t> out;
    for (size_t at = 0; at < name.size();) {
        const size_t piece = std::min<size_t>(name.size() - at, 250);
        putEntryHeader(out, "NM", 5 + piece);
        out.push_back(at + piece < name.size() ? 1 : 0);
        out.insert(out.end(), name.begin() + static_cast<std::ptrdiff_t>(at),
                   name.begin() + static_cast<std::ptrdiff_t>(at + piece));
        at += piece;
    }
    return out;
}

void putContinuation(uint8_t* at, uint32_t block, uint32_t length) {
    at[0] = 'C';
    at[1] = 'E';
    at[2] = kContinuationLength;
    at[3] = 1;
    putBoth32(at, kCeBlock, block);
    putBoth32(at, kCeOffset, 0);
    putBoth32(at, kCeLength, length);
}

}  // namespace

bool startsWithSusp(const uint8_t* field, size_t size) {
    return size >= 7 && is(field, "SP") && field[2] == 7 && field[4] == 0xBE && field[5] == 0xEF;
}

std::vector<uint8_t> gather(ImageSource& image, const uint8_t* field, size_t size, bool susp,
                            uint32_t blockSize, uint64_t& budget, const std::string& where) {
    if (!susp) {
        return std::vector<uint8_t>(field, field + size);
    }
    std::vector<uint8_t> entries;
    std::set<std::pair<uint64_t, uint64_t>> visited;
    std::vector<uint8_t> area(field, field + size);
    for (unsigned areas = 0;; ++areas) {
        bool more = false;
        uint64_t block = 0;
        uint64_t offset = 0;
        uint64_t length = 0;
        forEachEntry(area.data(), area.size(), [&](const uint8_t* entry, size_t entryLength) {
            if (is(entry, "ST")) {
                return false;
            }
            if (is(entry, "CE") && entryLength >= kContinuationLength) {
                more = true;
                block = getLe32(entry, kCeBlock);
                offset = getLe32(entry, kCeOffset);
                length = getLe32(entry, kCeLength);
            } else if (!is(entry, "PD")) {
                entries.insert(entries.end(), entry, entry + entryLength);
            }
            return true;
        });
        if (!more) {
            return entries;
        }
        const std::string area_text = where + ": the System Use continuation area at block " +
                                      std::to_string(block) + ", byte " + std::to_string(offset) +
                                      " (" + std::to_string(length) + " bytes)";
        if (areas + 1 > iso_limits::kMaxContinuationAreas) {
            throw std::runtime_error(where + ": more than " +
                                     std::to_string(iso_limits::kMaxContinuationAreas) +
                                     " System Use continuation areas follow one another");
        }
        if (!visited.insert({block, offset}).second) {
            throw std::runtime_error(area_text + " continues itself (a loop of continuations)");
        }
        if (length > blockSize || offset + length > blockSize) {
            throw std::runtime_error(area_text + " does not lie within one block");
        }
        const uint64_t start = block * blockSize + offset;
        if (!image.contains(start, length)) {
            throw std::runtime_error(area_text + " lies past the end of the image (" +
                                     std::to_string(image.size()) + " bytes)");
        }
        budget += length;
        if (budget > image.size()) {
            throw std::runtime_error(area_text +
                                     ": the continuation areas read so far exceed the "
                                     "image; they repeat");
        }
        area.resize(static_cast<size_t>(length));
        image.read(start, area.data(), area.size());
    }
}

Split split(const std::vector<uint8_t>& entries, size_t base, uint32_t blockSize) {
    Split out;
    const size_t room = kMaxRecordLength - 1 - base;  // an even record length
    if (entries.size() <= room) {
        out.inRecord = entries;
        return out;
    }
    if (room < kContinuationLength) {
        return out;  // no room for a continuation: the field is left out
    }
    std::vector<uint8_t>* current = &out.inRecord;
    size_t limit = room - kContinuationLength;
    forEachEntry(entries.data(), entries.size(), [&](const uint8_t* entry, size_t length) {
        if (current->size() + length > limit) {
            out.areas.emplace_back();
            current = &out.areas.back();
            limit = blockSize - kContinuationLength;
        }
        current->insert(current->end(), entry, entry + length);
        return true;
    });
    // The last area has no CE after it: its entries may use that room too; the CE space
    // of the others is added by encode.
    return out;
}

size_t fieldLength(const Split& split, size_t base) {
    size_t length = split.inRecord.size() + (split.areas.empty() ? 0 : kContinuationLength);
    if ((base + length) % 2 != 0) {
        ++length;
    }
    return length;
}

void encode(Split& split, uint32_t firstBlock, size_t base, uint8_t* field) {
    const size_t length = fieldLength(split, base);
    std::memset(field, 0, length);
    if (!split.inRecord.empty()) {
        std::memcpy(field, split.inRecord.data(), split.inRecord.size());
    }
    if (split.areas.empty()) {
        return;
    }
    auto areaLength = [&](size_t i) {
        return split.areas[i].size() + (i + 1 < split.areas.size() ? kContinuationLength : 0);
    };
    putContinuation(field + split.inRecord.size(), firstBlock,
                    static_cast<uint32_t>(areaLength(0)));
    for (size_t i = 0; i + 1 < split.areas.size(); ++i) {
        std::vector<uint8_t>& area = split.areas[i];
        const size_t at = area.size();
        area.resize(at + kContinuationLength);
        putContinuation(area.data() + at, firstBlock + static_cast<uint32_t>(i + 1),
                        static_cast<uint32_t>(areaLength(i + 1)));
    }
}

std::vector<uint8_t> withDirectoryLinks(const std::vector<uint8_t>& entries,
                                        const std::function<uint32_t(uint32_t)>& moved) {
    std::vector<uint8_t> out = entries;
    forEachEntry(entries.data(), entries.size(), [&](const uint8_t* entry, size_t length) {
        if ((is(entry, "CL") || is(entry, "PL")) && length >= 12) {
            putBoth32(out.data() + (entry - entries.data()), 4, moved(getLe32(entry, 4)));
        }
        return true;
    });
    return out;
}

bool hasRockRidge(const std::vector<uint8_t>& entries) {
    bool found = false;
    forEachEntry(entries.data(), entries.size(), [&](const uint8_t* entry, size_t) {
        found = is(entry, "RR") || is(entry, "PX") || is(entry, "NM");
        return !found;
    });
    return found;
}

std::vector<uint8_t> rockRidgeEntries(uint32_t mode, const std::string& name,
                                      std::time_t modified) {
    std::vector<uint8_t> out;
    putEntryHeader(out, "PX", kPxLength);
    putBoth32To(out, mode);
    putBoth32To(out, 1);  // links
    putBoth32To(out, 0);  // owner
    putBoth32To(out, 0);  // group
    putBoth32To(out, 0);  // serial number
    const std::vector<uint8_t> nm = nameEntries(name);
    out.insert(out.end(), nm.begin(), nm.end());
    const std::vector<uint8_t> tf = timesEntry(modified);
    out.insert(out.end(), tf.begin(), tf.end());
    return out;
}

std::vector<uint8_t> withTimes(const std::vector<uint8_t>& entries, std::time_t modified,
                               const std::string& name) {
    std::vector<uint8_t> out;
    if (!name.empty()) {
        out = nameEntries(name);
    }
    forEachEntry(entries.data(), entries.size(), [&](const uint8_t* entry, size_t length) {
        if (!is(entry, "TF") && (name.empty() || !is(entry, "NM"))) {
            out.insert(out.end(), entry, entry + length);
        }
        return true;
    });
    const std::vector<uint8_t> tf = timesEntry(modified);
    out.insert(out.end(), tf.begin(), tf.end());
    return out;
}

}  // namespace system_use

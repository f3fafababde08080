#include "iso/iso_reader_fixture.h"

#include <algorithm>
#include <boost/filesystem.hpp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "iso/byte_order.h"
#include "iso/limits.h"
#include "iso/records.h"
#include "support/fixture_image.h"
#include "support/test_files.h"

using namespace test_support;

namespace reader_fixture {

namespace {

std::string manyName(int i) {
    char name[16];
    std::snprintf(name, sizeof name, "F%03d.DAT", i);
    return name;
}

struct SharedImages {
    TempDir dir;
    std::string tree = dir / "tree";
    std::string bootImage = dir / "boot.iso";
    std::string plainImage = dir / "plain.iso";
    SharedImages() {
        writeTree(tree);
        makeIsoWithXorriso(tree, bootImage, "boot.bin");
        makeIsoWithXorriso(tree, plainImage);
    }
};

SharedImages& shared() {
    static SharedImages images;
    return images;
}

const std::vector<std::pair<std::string, std::string>> kTextFiles = {
    {"WINBOM.INI", "[WinPE.Net]\r\nStartNet=Yes\r\n"},
    {"EMPTY.TXT", ""},
    {"lower.txt", "lower case name\n"}};
const std::vector<std::pair<std::string, size_t>> kPatternFiles = {
    {"BLOCK.BIN", 2048},
    {"BLOCKPLUS.BIN", 2049},
    {"boot.bin", 2048},
    {"I386/SYSTEM32/CONFIG/DEFAULT", 5000},
    {"I386/SYSTEM32/DRIVERS/NET.SYS", 7},
    {"PROGRAMS/A.EXE", 4096},
    {"PROGRAMS/B/B.DLL", 100}};

}  // namespace

std::vector<std::string> treeFiles() {
    std::vector<std::string> files;
    for (const auto& file : kTextFiles) {
        files.push_back(file.first);
    }
    for (const auto& file : kPatternFiles) {
        files.push_back(file.first);
    }
    for (int i = 0; i < 150; ++i) {
        files.push_back("MANY/" + manyName(i));
    }
    return files;
}

void writeTree(const std::string& tree) {
    test_support::writeFiles(tree, kTextFiles);
    test_support::writePatternFiles(tree, kPatternFiles);
    boost::filesystem::create_directories(tree + "/EMPTYDIR");
    for (int i = 0; i < 150; ++i) {
        writeFile(tree + "/MANY/" + manyName(i), patternBytes(static_cast<size_t>(i), 100 + i));
    }
}

const std::string& sharedImage(bool boot) {
    return boot ? shared().bootImage : shared().plainImage;
}

const std::string& sharedTree() {
    return shared().tree;
}

size_t findRecord(const std::vector<uint8_t>& image, const std::string& name) {
    const size_t idOffset = 33;
    for (size_t position = idOffset; position + name.size() <= image.size(); ++position) {
        if (image[position - 1] != name.size() ||
            std::memcmp(image.data() + position, name.data(), name.size()) != 0) {
            continue;
        }
        const size_t record = position - idOffset;
        const uint8_t length = image[record];
        if (length >= idOffset + name.size() && length < 255) {
            return record;
        }
    }
    throw std::runtime_error("no directory record named " + name);
}

uint64_t extentOffset(const std::vector<uint8_t>& image, size_t record, unsigned blockSize) {
    return static_cast<uint64_t>(iso_bytes::getLe32(image.data(), record + 2)) * blockSize;
}

void putBoth32(std::vector<uint8_t>& image, size_t offset, uint32_t value) {
    iso_bytes::putBoth32(image.data(), offset, value);
}

size_t putRecord(std::vector<uint8_t>& image, size_t offset, const std::string& identifier,
                 uint32_t extent, uint32_t size, uint8_t flags) {
    const size_t length = 33 + identifier.size() + (identifier.size() % 2 == 0 ? 1 : 0);
    std::fill(image.begin() + static_cast<long>(offset),
              image.begin() + static_cast<long>(offset + length), 0);
    image[offset] = static_cast<uint8_t>(length);
    iso_bytes::putBoth32(image.data(), offset + 2, extent);
    iso_bytes::putBoth32(image.data(), offset + 10, size);
    image[offset + 25] = flags;
    iso_bytes::putBoth16(image.data(), offset + 28, 1);
    image[offset + 32] = static_cast<uint8_t>(identifier.size());
    std::memcpy(image.data() + offset + 33, identifier.data(), identifier.size());
    return length;
}

MiniImage::MiniImage(uint16_t blockSize, uint32_t blocks)
    : blockSize_(blockSize),
      bytes_(
          std::max<size_t>(static_cast<size_t>(blockSize) * blocks, iso_limits::kBootRecordOffset),
          0) {}

void MiniImage::descriptor(uint32_t rootExtent) {
    namespace pvd = iso_record::pvd;
    uint8_t* descriptor = bytes_.data() + iso_limits::kPrimaryDescriptorOffset;
    descriptor[pvd::kType] = iso_record::descriptor::kPrimaryType;
    std::memcpy(descriptor + pvd::kStandardId, iso_record::kStandardIdentifier,
                iso_record::kStandardIdentifierLength);
    descriptor[pvd::kVersion] = 1;
    iso_bytes::putBoth16(descriptor, pvd::kLogicalBlockSize, blockSize_);
    std::vector<uint8_t> record(pvd::kRootDirectoryRecordLength);
    putRecord(record, 0, std::string(1, '\0'), rootExtent, blockSize_, 2);
    std::memcpy(descriptor + pvd::kRootDirectoryRecord, record.data(), record.size());
}

uint32_t MiniImage::directory(uint32_t extent, uint32_t parentExtent,
                              const std::vector<Entry>& entries, uint32_t dataLength) {
    std::vector<Entry> all = {{std::string(1, '\0'), extent, 0, 2},
                              {std::string(1, '\1'), parentExtent, 0, 2}};
    all.insert(all.end(), entries.begin(), entries.end());
    const size_t start = static_cast<size_t>(extent) * blockSize_;
    size_t offset = 0;
    std::vector<size_t> selfSize;
    for (const Entry& entry : all) {
        const size_t length = 33 + entry.identifier.size() + (entry.identifier.size() % 2 ? 0 : 1);
        if (offset / blockSize_ != (offset + length - 1) / blockSize_) {
            offset = (offset / blockSize_ + 1) * blockSize_;
        }
        offset += putRecord(bytes_, start + offset, entry.identifier, entry.extent, entry.size,
                            entry.flags);
    }
    if (dataLength == 0) {
        dataLength = static_cast<uint32_t>((offset + blockSize_ - 1) / blockSize_ * blockSize_);
    }
    iso_bytes::putBoth32(bytes_.data(), start + 10, dataLength);
    return dataLength;
}

void MiniImage::data(uint32_t extent, const std::vector<uint8_t>& content) {
    std::memcpy(bytes_.data() + static_cast<size_t>(extent) * blockSize_, content.data(),
                content.size());
}

}  // namespace reader_fixture

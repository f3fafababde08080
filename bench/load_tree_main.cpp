// Loads an image's directory tree with ISOReader and prints how long that took and how
// many reads it made, for bench/load-tree.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "iso/image_source.h"
#include "iso/iso_reader.h"

namespace {

// Counts the reads the reader makes, to show that each directory is read at most twice.
class CountingSource : public ImageSource {
  public:
    explicit CountingSource(std::unique_ptr<ImageSource> inner, unsigned long& reads)
        : inner_(std::move(inner)), reads_(reads) {}
    uint64_t size() const override { return inner_->size(); }
    void read(uint64_t offset, void* buffer, size_t count) override {
        ++reads_;
        inner_->read(offset, buffer, count);
    }

  private:
    std::unique_ptr<ImageSource> inner_;
    unsigned long& reads_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s IMAGE PATH-TO-LOOK-UP\n", argv[0]);
        return 2;
    }
    unsigned long reads = 0;
    ISOReader reader(argv[1], [&reads](const std::string& path) -> std::unique_ptr<ImageSource> {
        return std::make_unique<CountingSource>(openImageFile(path), reads);
    });
    const auto start = std::chrono::steady_clock::now();
    const bool found = reader.FileExists(argv[2]);
    const auto loaded = std::chrono::steady_clock::now();
    const unsigned long readsAfterLoad = reads;
    for (int i = 0; i < 1000; ++i) {
        reader.FileExists(argv[2]);
    }
    const auto end = std::chrono::steady_clock::now();
    const double loadSeconds = std::chrono::duration<double>(loaded - start).count();
    const double lookupSeconds = std::chrono::duration<double>(end - loaded).count();
    std::fprintf(stderr,
                 "found %s: %d\nload seconds: %.4f\nreads during load: %lu\n"
                 "reads during 1000 look-ups: %lu\nseconds per look-up: %.7f\n",
                 argv[2], found ? 1 : 0, loadSeconds, readsAfterLoad, reads - readsAfterLoad,
                 lookupSeconds / 1000);
    std::printf("%.6f\n", loadSeconds);
    return found ? 0 : 1;
}

// SPDX-License-Identifier: GPL-2.0-or-later
// The photograph's byte reader over its held contents.
#include "sources/PhotographReader.h"

namespace sources {
namespace {

class ContentsReader final : public media::ByteReader {
 public:
  explicit ContentsReader(FSContentsRef contents) : contents_(std::move(contents)) {}
  std::uint64_t size() const override { return contents_->fileSize(); }
  bool read(std::uint64_t offset, std::uint8_t* out, std::size_t n) override { return contents_->readAt(offset, out, n); }

 private:
  FSContentsRef contents_;
};

}  // namespace

std::shared_ptr<media::ByteReader> PhotographReader(FSContentsRef contents) {
  if (!contents) return nullptr;
  return std::make_shared<ContentsReader>(std::move(contents));
}

}  // namespace sources

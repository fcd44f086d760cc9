#pragma once

#include <cstdint>
#include <string>

#include "server/data/CDatabaseRecord.h"

namespace ondavox::server {

// One document the server can broadcast: file name, owner ("root" when added by hand), full
// path on the server, MIME type, the streamable and persisting flags, and a description. Its
// key is the owner immediately followed by the file name. Stored in the document database
// file in that field order; copied by value into and out of the playlist.
// Not thread safe: a stored record is used under the server data lock, a copy by its holder.
class CDocInfo final : public CDatabaseRecord {
 public:
  static constexpr RecordClass kClass{"CDocInfo", 1};

  CDocInfo() = default;
  CDocInfo(std::string fileName, std::string owner, std::string path, std::string mimeType,
           int32_t streamable, int32_t persisting, std::string description);
  CDocInfo(const CDocInfo&) = default;
  CDocInfo& operator=(const CDocInfo&) = default;

  void Serialize(ArchiveWriter& archive) const override;
  void Serialize(ArchiveReader& archive) override;
  std::string GetKey() const override { return MakeKey(owner_, fileName_); }
  // The key of the document |fileName| of |owner|, as every lookup builds it.
  static std::string MakeKey(std::string_view owner, std::string_view fileName);

  const std::string& fileName() const { return fileName_; }
  const std::string& owner() const { return owner_; }
  const std::string& path() const { return path_; }
  const std::string& mimeType() const { return mimeType_; }
  int32_t streamable() const { return streamable_; }
  int32_t persisting() const { return persisting_; }
  const std::string& description() const { return description_; }

  // What the documents dialog edits in place; the key fields never change in a stored record.
  void SetStreamable(int32_t streamable) { streamable_ = streamable; }
  void SetPersisting(int32_t persisting) { persisting_ = persisting; }
  void SetDescription(std::string description) { description_ = std::move(description); }

  bool operator==(const CDocInfo&) const = default;

 private:
  std::string fileName_;
  std::string owner_;
  std::string path_;
  std::string mimeType_;
  int32_t streamable_ = 0;
  int32_t persisting_ = 0;
  std::string description_;
};

}  // namespace ondavox::server

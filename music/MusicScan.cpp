#include "music/MusicScan.h"

#include "app/PatchClientDlg.h"
#include "music/RawFile.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace {

class CFileFindListing : public IFolderListing {
 public:
  bool First(const std::string& pattern) override { return m_find.FindFirst(pattern); }
  // The platform's listing reports no failure other than its end.
  ListingStep Next() override { return m_find.FindNext() ? ListingStep::Found : ListingStep::End; }
  const std::string& Name() const override { return m_find.Name(); }
  bool IsDirectory() const override { return m_find.IsDirectory(); }
  ~CFileFindListing() override { m_find.Close(); }

 private:
  platform::FileFind m_find;
};

constexpr uint32_t kListingRetryPauseMs = 10;

}  // namespace

MusicCatalogEntry CatalogEntryFromHeader(const MusicHeader& header) {
  MusicCatalogEntry entry;
  entry.musicId = header.MusicId();
  entry.version = header.Version();
  entry.hasThumbnail = header.HasThumbnail();
  return entry;
}

void ScanMusicListing(IFolderListing& listing, const std::string& pattern, const std::string& fileFolder,
                      std::vector<MusicCatalogEntry>& catalog) {
  if (!listing.First(pattern)) return;
  catalog.clear();
  for (;;) {
    // A folder whose name ends in ".qkn" is no music file, and reading it would give a zero header.
    if (!listing.IsDirectory()) {
      CRawFile file;
      std::string path = fileFolder + "\\" + listing.Name();
      if (file.OpenRead(path.c_str())) {
        MusicHeader header;  // zeroed: a short file leaves the rest zero
        file.Read(header.bytes.data(), kMusicHeaderSize);
        if (header.MusicId() != kExcludedMusicId) catalog.push_back(CatalogEntryFromHeader(header));
        file.Close();
      }
    }
    // Only the request is repeated after a failure, never the entry, so no file is counted twice.
    ListingStep step = listing.Next();
    for (int retry = 0; step == ListingStep::Failed && retry < kListingRetries; ++retry) {
      platform::SleepMs(kListingRetryPauseMs);
      step = listing.Next();
    }
    if (step != ListingStep::Found) return;
  }
}

void CPatchClientDlg::ScanMusicFolder() {
  CFileFindListing listing;
  // The folder's name is matched without regard to case once, not again for every file in it.
  ScanMusicListing(listing, platform::GetCurrentDirectory() + "\\music\\*.qkn", platform::ResolvePath("music"),
                   m_musicCatalog);
}

// The catalogue scan over a folder listing. The listing is an interface so that a listing step
// that fails can be exercised.
#pragma once
#include <string>
#include <vector>

#include "music/MusicHeader.h"

enum class ListingStep { Found, End, Failed };

class IFolderListing {
 public:
  virtual ~IFolderListing() = default;
  virtual bool First(const std::string& pattern) = 0;  // false: no folder or no match
  virtual ListingStep Next() = 0;
  virtual const std::string& Name() const = 0;
  virtual bool IsDirectory() const = 0;
};

// How often a failing listing step is asked again before the scan ends with what it has.
constexpr int kListingRetries = 3;

// Lists `pattern`; when anything matches, the catalogue is replaced by one entry per readable
// music file (opened as "<fileFolder>\<name>") whose id is not the excluded one, in listing order.
// Nothing matching leaves the catalogue as it was.
void ScanMusicListing(IFolderListing& listing, const std::string& pattern, const std::string& fileFolder,
                      std::vector<MusicCatalogEntry>& catalog);

// The catalogue entry for a music file's header: id, version and thumbnail flag.
MusicCatalogEntry CatalogEntryFromHeader(const MusicHeader& header);

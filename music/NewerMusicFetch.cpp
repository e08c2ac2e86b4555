// Kept apart from the list reader: it is the one music operation that downloads.
#include "app/PatchClientDlg.h"
#include "music/MusicList.h"

void CPatchClientDlg::FetchNewerMusic() {
  // Each fetch's result is ignored; a failed song is tried again on the next run.
  for (uint32_t id : SelectNewerMusic(m_newMusicList, m_musicCatalog)) FetchMusic(id);
}

#include "app/PatchClientDlg.h"
#include "zonet/ZoNet.h"
bool CPatchClientDlg::OnInitDialog() { return true; }
LRESULT CPatchClientDlg::OnNetState(WPARAM, LPARAM) { return 0; }
LRESULT CPatchClientDlg::OnNetRecv(WPARAM, LPARAM) { return 0; }
int ZoNet_StartUp(void*, const char*, uint16_t, ZoNetCallback) { return 0; }
int Send(const void*, uint32_t) { return 0; }
int Recv(void*, uint32_t*) { return 0; }
void ZoNet_ShutDown() {}

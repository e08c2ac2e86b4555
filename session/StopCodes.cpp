#include "session/StopCodes.h"

#include "app/PatchClientDlg.h"

const char* StopCodeMessage(unsigned code) {
  switch (code) {
    case 0: return "无法连接FTP,因此中断执行.";
    case 1: return "尚未找到补丁文件,因此中断执行.";
    case 2: return "无法下载补丁文件,因此中断执行.";
    case 4: return "无法下载音乐数据,因此中断执行.";
    case 5: return "无法下载音乐文件,因此中断执行.";
    case 6: return "无法下载客户端补丁,因此中断执行.";
    case 7: return "无法下载客户端,因此中断执行.";
    case 9: return "无法找到安装情报,因此中断执行.";
    case 10: return "无法读取安装情报,因此中断执行.";
    case 12:
    case 14: return nullptr;
    case 16: return "客户端版本低,请重新安装客户端.";
    case 17: return "接收服务器信息失败,请重新再试.";
    default: return "发现无法预知的错误,因此中断执行.";
  }
}

LRESULT CPatchClientDlg::OnPatchStop(WPARAM wParam, LPARAM) {
  unsigned code = static_cast<unsigned>(wParam);
  m_stopHistory.push_back(code);
  if (const char* message = StopCodeMessage(code)) {
    MessageBox(message, MB_OK | MB_ICONSTOP);
  } else {
    ClearPatchList();
  }
  PostQuitMessage();
  return 0;
}

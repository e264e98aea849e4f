// Localized texts of the updater window: four constant tables and the choice between them.
#include "ui/texts.h"

namespace {

// Slot sizes in UTF-16 code units; each text is NUL-terminated and the rest of its slot is
// zero. Russian needs the wider slot (its longest text is 81 units).
constexpr int kNarrowSlot = 64;
constexpr int kWideSlot = 256;

constexpr unsigned short kLangChineseSimplified = 0x0804;
constexpr unsigned short kLangChineseTraditional = 0x0404;
constexpr unsigned short kLangRussian = 0x0419;

// Line breaks are CR LF because message boxes and static controls expect them. Trailing
// blanks, the odd spelling and the mix of ASCII and full-width punctuation are part of the
// shipped texts and must stay as they are.

// English: the default for every other language.
const char16_t kEnglish[kTextRows][kNarrowSlot] = {
    u"USB drive setup",  // 0
    u"Exit",  // 1
    u"Update",  // 2
    u"USB state: connected!",  // 3
    u"USB state: disconnected!",  // 4
    u"Disconnected, Please check the connection!",  // 5
    u"Update",  // 6
    u"File Path",  // 7
    u"USB connect error, failed to update!\r\nPlease reconnect it.",  // 8
    u"Read file error, failed to update!",  // 9
    u"Upload file error, failed to update!",  // 10
    u"Upload file finish, update successful!Please reboot.",  // 11
    u"USB state: Searching...",  // 12
    u"Failed to install USB drive, Please try again.",  // 13
    u"Install the usb drive successful! ",  // 14
    u"USB raises an exception, the App will exit. ",  // 15
    u"Ready, Updating...",  // 16
    u"Network status: Connected, Download...",  // 17
    u"Network status: Can't connect to ftp",  // 18
    u"Network status: Faild to download data",  // 19
    u"Update succeed, Reboot it",  // 20
    u"",  // 21: empty, never asked for
};

// Simplified Chinese (0x0804).
const char16_t kChineseSimplified[kTextRows][kNarrowSlot] = {
    u"USB驱动安装",  // 0
    u"退出",  // 1
    u"升级",  // 2
    u"USB状态: 主机与电脑连接成功！",  // 3
    u"USB状态: 主机与电脑连接失败！",  // 4
    u"USB没连接\r\n请检查电子设备与电脑是不是连接正常！",  // 5
    u"数据更新",  // 6
    u"文件路径",  // 7
    u"USB连接出错，升级失败！\r\n请重新连接USB。",  // 8
    u"读取文件出错，升级失败！",  // 9
    u"文件上传出错，升级失败！",  // 10
    u"文件上传完成，升级成功！\r\n请重启设备。",  // 11
    u"USB状态: 正在搜索USB设备...",  // 12
    u"USB驱动安装失败，请重试！",  // 13
    u"USB驱动安装成功！",  // 14
    u"USB异常中断，程序将退出，请重新连接USB。",  // 15
    u"数据准备就绪，更新中...",  // 16
    u"网络状态：已连接到站点，正在下载数据...",  // 17
    u"网络状态：无法连接到站点",  // 18
    u"网络状态：数据下载失败",  // 19
    u"数据更新完成，请重启设备",  // 20
    u"",  // 21: empty, never asked for
};

// Traditional Chinese (0x0404).
const char16_t kChineseTraditional[kTextRows][kNarrowSlot] = {
    u"USB驅動安裝",  // 0
    u"退出",  // 1
    u"升級",  // 2
    u"USB狀態: 主機與電腦連接成功！",  // 3
    u"USB狀態: 主機與電腦連接失敗！",  // 4
    u"USB沒連接\r\n請檢測電子設備與電腦是不是連接正常！",  // 5
    u"資料更新",  // 6
    u"文件路徑",  // 7
    u"USB連接出錯，升級失敗！\r\n請重新連接USB。",  // 8
    u"讀取文件出錯，升級失敗！",  // 9
    u"文件上傳出錯，升級失敗！",  // 10
    u"文件上傳完成，升級成功！\r\n請重啟設備。",  // 11
    u"USB狀態: 正在搜索USB設備...",  // 12
    u"USB驅動安裝失敗，請重試！",  // 13
    u"USB驅動安裝成功！",  // 14
    u"USB異常中斷，程式將退出，請重新連接USB。",  // 15
    u"資料準備就緒，更新中...",  // 16
    u"網路狀態：已連接到站點，正在下載數據...",  // 17
    u"網路狀態：無法連接到站點",  // 18
    u"網路狀態：資料下載失敗",  // 19
    u"資料更新成功，請重啟設備",  // 20
    u"",  // 21: empty, never asked for
};

// Russian (0x0419). Row 0 and the word "USB-drive" in row 14 are English in the shipped texts.
const char16_t kRussian[kTextRows][kWideSlot] = {
    u"USB drive setup",  // 0
    u"Выход",  // 1
    u"Обновить",  // 2
    u"USB-статус: подключено！",  // 3
    u"USB-статус: не подключено！",  // 4
    u"Нет подключения\r\nПожалуйста, проверьте соединение с компьютером.",  // 5
    u"Обновить",  // 6
    u"Расположение файла.",  // 7
    u"Ошибка подключения, не удалось обновить! \r\nПожалуйста, переподключите устройство.",  // 8
    u"Ошибка чтения файла, не удалось обновить.",  // 9
    u"Ошибка загрузки файла, не удалось обновить.",  // 10
    u"Обновление установлено! ",  // 11
    u"USB-статус: поиск USB-устройства…",  // 12
    u"Ошибка установки. Пожалуйста, повторите операцию.",  // 13
    u"Установка USB-drive прошла успешно.",  // 14
    u"Ошибка, выход из приложения… Пожалуйста, переподключите устройство.",  // 15
    u"Готов, обновление…",  // 16
    u"Статус ести: соединено, идет загрузка…",  // 17
    u"Статус сети: ошибка подключения к ftp…",  // 18
    u"Статус сети: Ошибка загрузки файла",  // 19
    u"Обновлено успешно. ",  // 20
    u"",  // 21: empty, never asked for
};

}  // namespace

const char16_t* TextForLanguage(unsigned short langId, int index) {
  // Only the exact identifiers select a translation; other sublanguages of Chinese or Russian
  // (Hong Kong, Singapore, Macau, Moldova, ...) get English.
  switch (langId) {
    case kLangChineseSimplified:
      return kChineseSimplified[index];
    case kLangChineseTraditional:
      return kChineseTraditional[index];
    case kLangRussian:
      return kRussian[index];
    default:
      return kEnglish[index];
  }
}

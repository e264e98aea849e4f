"""The updater's texts in its four languages, row by row, as the window must show them."""

ENGLISH = [
    'USB drive setup',  # 0
    'Exit',  # 1
    'Update',  # 2
    'USB state: connected!',  # 3
    'USB state: disconnected!',  # 4
    'Disconnected, Please check the connection!',  # 5
    'Update',  # 6
    'File Path',  # 7
    'USB connect error, failed to update!\r\nPlease reconnect it.',  # 8
    'Read file error, failed to update!',  # 9
    'Upload file error, failed to update!',  # 10
    'Upload file finish, update successful!Please reboot.',  # 11
    'USB state: Searching...',  # 12
    'Failed to install USB drive, Please try again.',  # 13
    'Install the usb drive successful! ',  # 14
    'USB raises an exception, the App will exit. ',  # 15
    'Ready, Updating...',  # 16
    'Network status: Connected, Download...',  # 17
    "Network status: Can't connect to ftp",  # 18
    'Network status: Faild to download data',  # 19
    'Update succeed, Reboot it',  # 20
]

SIMPLIFIED_CHINESE = [
    'USB驱动安装',  # 0
    '退出',  # 1
    '升级',  # 2
    'USB状态: 主机与电脑连接成功！',  # 3
    'USB状态: 主机与电脑连接失败！',  # 4
    'USB没连接\r\n请检查电子设备与电脑是不是连接正常！',  # 5
    '数据更新',  # 6
    '文件路径',  # 7
    'USB连接出错，升级失败！\r\n请重新连接USB。',  # 8
    '读取文件出错，升级失败！',  # 9
    '文件上传出错，升级失败！',  # 10
    '文件上传完成，升级成功！\r\n请重启设备。',  # 11
    'USB状态: 正在搜索USB设备...',  # 12
    'USB驱动安装失败，请重试！',  # 13
    'USB驱动安装成功！',  # 14
    'USB异常中断，程序将退出，请重新连接USB。',  # 15
    '数据准备就绪，更新中...',  # 16
    '网络状态：已连接到站点，正在下载数据...',  # 17
    '网络状态：无法连接到站点',  # 18
    '网络状态：数据下载失败',  # 19
    '数据更新完成，请重启设备',  # 20
]

TRADITIONAL_CHINESE = [
    'USB驅動安裝',  # 0
    '退出',  # 1
    '升級',  # 2
    'USB狀態: 主機與電腦連接成功！',  # 3
    'USB狀態: 主機與電腦連接失敗！',  # 4
    'USB沒連接\r\n請檢測電子設備與電腦是不是連接正常！',  # 5
    '資料更新',  # 6
    '文件路徑',  # 7
    'USB連接出錯，升級失敗！\r\n請重新連接USB。',  # 8
    '讀取文件出錯，升級失敗！',  # 9
    '文件上傳出錯，升級失敗！',  # 10
    '文件上傳完成，升級成功！\r\n請重啟設備。',  # 11
    'USB狀態: 正在搜索USB設備...',  # 12
    'USB驅動安裝失敗，請重試！',  # 13
    'USB驅動安裝成功！',  # 14
    'USB異常中斷，程式將退出，請重新連接USB。',  # 15
    '資料準備就緒，更新中...',  # 16
    '網路狀態：已連接到站點，正在下載數據...',  # 17
    '網路狀態：無法連接到站點',  # 18
    '網路狀態：資料下載失敗',  # 19
    '資料更新成功，請重啟設備',  # 20
]

RUSSIAN = [
    'USB drive setup',  # 0
    'Выход',  # 1
    'Обновить',  # 2
    'USB-статус: подключено！',  # 3
    'USB-статус: не подключено！',  # 4
    'Нет подключения\r\nПожалуйста, проверьте соединение с компьютером.',  # 5
    'Обновить',  # 6
    'Расположение файла.',  # 7
    'Ошибка подключения, не удалось обновить! \r\nПожалуйста, переподключите устройство.',  # 8
    'Ошибка чтения файла, не удалось обновить.',  # 9
    'Ошибка загрузки файла, не удалось обновить.',  # 10
    'Обновление установлено! ',  # 11
    'USB-статус: поиск USB-устройства…',  # 12
    'Ошибка установки. Пожалуйста, повторите операцию.',  # 13
    'Установка USB-drive прошла успешно.',  # 14
    'Ошибка, выход из приложения… Пожалуйста, переподключите устройство.',  # 15
    'Готов, обновление…',  # 16
    'Статус ести: соединено, идет загрузка…',  # 17
    'Статус сети: ошибка подключения к ftp…',  # 18
    'Статус сети: Ошибка загрузки файла',  # 19
    'Обновлено успешно. ',  # 20
]

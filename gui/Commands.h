// The program's commands, by the numbers its menus, accelerators and
// toolbar share.
#pragma once

namespace tegalo {

enum CommandId : int {
    ID_START_RECEIVE = 32771,   // "送受信開始", toolbar and the file menu (F5)
    ID_SETTINGS = 32772,        // "設定ﾀﾞｲﾔﾛｸﾞ(&M)"
    ID_NEW_MESSAGE = 32773,     // "新規"
    ID_RIGHT_PANE = 32774,      // "右面有効"
    ID_LEFT_PANE = 32775,       // "左面有効"
    ID_REPLY = 32777,           // "返信"
    ID_FORWARD = 32778,         // "転送"
    ID_REGISTER_SENDER = 32779, // "送信者をｱﾄﾞﾚｽ帳に登録"
    ID_ADDRESS_BOOK = 32780,    // "ｱﾄﾞﾚｽ帳"
    ID_SEND_WAITING = 32781,    // "送信待"
    ID_MOVE_TO_RECEIVED = 32785,
    ID_MOVE_TO_WAITING = 32786,
    ID_MOVE_TO_SENT = 32787,
    ID_MOVE_TO_DELETED = 32788,
    ID_HELP_CONTENTS = 32789, // "目次"
    ID_STOP_SESSION = 32790,  // "中止": stops the running session (Esc)
    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_FILE_SAVE = 57603,
    ID_FILE_PRINT = 57607,
    ID_FILE_MRU_FILE1 = 57616,
    ID_EDIT_COPY = 57634,
    ID_EDIT_CUT = 57635,
    ID_EDIT_PASTE = 57637,
    ID_EDIT_UNDO = 57643,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_NEXT_PANE = 57680,
    ID_PREV_PANE = 57681,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
};

} // namespace tegalo

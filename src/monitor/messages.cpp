#include "monitor/messages.h"

#include "platform/cp932.h"

namespace dravik {
namespace {

struct Entry {
  std::string Messages::*member;
  std::string_view utf8;
};

const Entry kEntries[] = {
    {&Messages::sourceAddressFormat, "接続元 : %s"},
    {&Messages::portNumberError, "ポート番号エラー"},
    {&Messages::duplicatePorts, "ポート番号は重複できません。"},
    {&Messages::socketErrorFormat, "ネットワークエラー:S %d\r\n"},
    {&Messages::bindErrorFormat, "ネットワークエラー:B %d\r\n"},
    {&Messages::listenErrorFormat, "ネットワークエラー:L %d\r\n"},
    {&Messages::threadErrorFormat, "ネットワークエラー:T %d\r\n"},
    {&Messages::stopServerCaption, "サーバ待機を終了する(&S)"},
    {&Messages::startServerCaption, "サーバ待機を開始する(&S)"},
    {&Messages::statusListening, "接続待機中"},
    {&Messages::statusStopped, "停止中"},
    {&Messages::destinationPortRefused, "このポート番号は指定できません"},
    {&Messages::titleHasKeyPrefix, "タイトルバーに #$ が含まれていると保存できません"},
    {&Messages::nameHasKeyPrefix, "信号名に #$ が含まれていると保存できません"},
    {&Messages::settingsMissing, "cfgファイルが無かったからデフォルト\r\n"},
    {&Messages::settingsFound, "cfgファイルが見つかったから処理する\r\n"},
    {&Messages::logCannotOpen, "ログファイルが開けません\r\n"},
    {&Messages::traceDevelopmentOnly,
     "ここの部分は開発中のみ表示してるがリリースの時には枠ごと消す\r\n"},
    {&Messages::noAdapter, "ネットワークデバイスが見つかりませんでした。"},
    {&Messages::settingsNotSaved, "設定を保存できませんでした"},
    {&Messages::logWriteFailed, "ログファイルに書き込めません\r\n"},
    {&Messages::logPathTooLong, "ログファイル名が長すぎるから使わない\r\n"},
};

}  // namespace

const std::vector<std::string_view>& messageSources() {
  static const std::vector<std::string_view> sources = [] {
    std::vector<std::string_view> all;
    for (const Entry& e : kEntries) all.push_back(e.utf8);
    return all;
  }();
  return sources;
}

const Messages& messages() {
  static const Messages converted = [] {
    Messages m;
    for (const Entry& e : kEntries) m.*e.member = cp932::fromUtf8(e.utf8);
    return m;
  }();
  return converted;
}

}  // namespace dravik

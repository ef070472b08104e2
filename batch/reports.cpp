#include "batch/reports.h"

#include "batch/dialog_link.h"
#include "batch/job_state.h"
#include "common/win32/text.h"
#include "pipeline/sources.h"

#include <string_view>

namespace {

constexpr const char* warningTitle = "警告";
constexpr const char* doneTitle = "完成";

// The short reason the completion box gives for a file.
const char* reasonText(Outcome reason)
{
    switch (reason) {
    case Outcome::damaged: return "文件已损坏";
    case Outcome::incomplete: return "文件不完整";
    case Outcome::unreadable: return "无法读取";
    case Outcome::notPicture: return "不是图片文件";
    case Outcome::tooLarge: return "图片太大";
    case Outcome::noTargetSize: return "目标尺寸无效";
    case Outcome::outOfMemory: return "内存不足";
    case Outcome::diskFull: return "磁盘已满";
    case Outcome::notWritten: return "无法写入";
    case Outcome::noEncoder: return "不支持该格式";
    case Outcome::nameTooLong: return "路径太长";
    case Outcome::nameTaken: return "与其他文件重名";
    case Outcome::done:
    case Outcome::cancelled: break;
    }
    return "";
}

// Once the dialog is closing nothing more is shown: every question counts as answered No.
int showMessage(const std::wstring& text, const char* title, UINT buttons)
{
    if (closing()) return IDNO;
    return MessageBoxW(dialogOwner(), text.c_str(), wideText(title).c_str(), buttons);
}

bool ask(const std::wstring& text, const char* title) { return showMessage(text, title, MB_YESNO) == IDYES; }

// A message box the worker put up before it saw the close, answered No (or OK) for the user.
BOOL CALLBACK dismissMessageBox(HWND window, LPARAM)
{
    char className[16] = "";
    GetClassNameA(window, className, sizeof className);
    if (std::string_view(className) != "#32770") return TRUE;
    const int button = GetDlgItem(window, IDNO) != nullptr ? IDNO : IDOK;
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, button)));
    return TRUE;
}

// The files that failed, the first few by name with their reasons, for the completion box.
std::wstring failureList(const std::vector<FailedFile>& failed)
{
    constexpr std::size_t named = 10;
    if (failed.empty()) return std::wstring();
    std::wstring list = wideText("\n\n没有转换成功的文件：");
    for (std::size_t index = 0; index < failed.size() && index < named; ++index)
        list += L"\n" + failed[index].name + wideText(std::string("：") + reasonText(failed[index].reason));
    if (failed.size() > named) list += wideText("\n另有" + std::to_string(failed.size() - named) + "个没有列出");
    return list;
}

}  // namespace

DirectoryOutcome prepareDirectory(const std::wstring& directory)
{
    if (closing()) return DirectoryOutcome::closing;
    if (!directory.empty() && CreateDirectoryW(directory.c_str(), nullptr)) return DirectoryOutcome::ready;
    const DWORD attributes = directory.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(directory.c_str());
    const bool isDirectory = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (!isDirectory) {
        showMessage(wideText("无法创建转换目录“") + directory + wideText("”，没有转换任何图片"), warningTitle,
                    MB_OK | MB_ICONWARNING);
        return DirectoryOutcome::failed;
    }
    const bool reuse =
        ask(wideText("转换目录“") + directory + wideText("”已经存在，是否覆盖原目录中的图片"), warningTitle);
    if (closing()) return DirectoryOutcome::closing;
    return reuse ? DirectoryOutcome::ready : DirectoryOutcome::declined;
}

void reportCompletion(const std::wstring& directory, const ConversionCounts& counts, int leftOut)
{
    const std::wstring lookThere = wideText("是否转到“") + directory + wideText("”目录查看");
    const int failed = static_cast<int>(counts.failed.size());
    std::string question;
    if (counts.left > 0 || leftOut > 0) {
        question = std::string(counts.left > 0 ? "转换已停止" : "转换完成") + "，已转换" +
                   std::to_string(counts.written) + "个图片文件";
        if (failed > 0) question += "，有" + std::to_string(failed) + "个没有转换成功";
        if (counts.left > 0) question += "，还有" + std::to_string(counts.left) + "个没有转换";
        if (leftOut > 0)
            question += "，有" + std::to_string(leftOut) + "个超出" + std::to_string(sourceListCapacity) +
                        "个的上限没有转换";
        question += "，";
    } else if (failed > 0) {
        question = "转换完成，但有" + std::to_string(failed) + "个图片文件没有转换成功，";
    } else {
        question = "转换成功完成，";
    }
    if (ask(wideText(question) + lookThere + failureList(counts.failed), doneTitle))
        ShellExecuteW(dialogOwner(), nullptr, directory.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void dismissMessageBoxesOf(DWORD threadId) { EnumThreadWindows(threadId, dismissMessageBox, 0); }

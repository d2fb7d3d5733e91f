// The main window's message handling over an in-memory dialog: first its
// reactions alone, then with the real worker against a scripted BMC on
// loopback.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "fake_bmc.h"
#include "main_window.h"
#include "platform.h"
#include "resource.h"
#include "session.h"

namespace {

const int WAIT_MS = 5000;

// ---- An in-memory dialog running the window's message handling ----

// One change of the status line or the Logon button, with the enabled state
// of the SEL buttons at that moment.
struct Event {
    int id;
    std::string text;
    bool dumpEnabled;
    bool clearEnabled;
};

struct Dialog {
    WindowHandler handler;
    uint32_t window;
    std::mutex lock;
    std::condition_variable changed;
    std::vector<Event> events;
    bool recording;
    // The Save As dialog: the names it was offered, and its next answers
    // (an empty answer cancels). duringSaveAs runs while it is "open".
    std::vector<std::string> offered;
    std::vector<std::string> answers;
    std::function<void()> duringSaveAs;
};

void itemTextChanged(void* context, uint32_t window, int id, const char* text) {
    Dialog& d = *static_cast<Dialog*>(context);
    if (id != IDC_STATUS && id != IDC_LOGON) {
        return;
    }
    // Runs under the window's lock: the enabled states belong to this moment.
    Event e = {id, text, dialogIsItemEnabled(window, IDC_DUMP_SEL), dialogIsItemEnabled(window, IDC_CLEAR_SEL)};
    std::lock_guard<std::mutex> guard(d.lock);
    if (d.recording) {
        d.events.push_back(e);
        d.changed.notify_all();
    }
}

void message(void* /*context*/, uint32_t window, uint32_t code, uintptr_t wParam) {
    handleMainWindowMessage(window, code, wParam);
}

bool askSaveFileName(void* context, uint32_t /*window*/, char* path, int capacity) {
    Dialog& d = *static_cast<Dialog*>(context);
    d.offered.push_back(path);
    if (d.duringSaveAs) {
        d.duringSaveAs();
    }
    if (d.answers.empty() || d.answers.front().empty()) {
        if (!d.answers.empty()) {
            d.answers.erase(d.answers.begin());
        }
        return false;
    }
    std::snprintf(path, static_cast<size_t>(capacity), "%s", d.answers.front().c_str());
    d.answers.erase(d.answers.begin());
    return true;
}

std::string itemText(uint32_t window, int id) {
    char text[512];
    dialogGetItemText(window, id, text, sizeof text);
    return text;
}

// The texts of the status line so far, in order.
std::vector<std::string> statusTexts(Dialog& d) {
    std::lock_guard<std::mutex> guard(d.lock);
    std::vector<std::string> texts;
    for (const Event& e : d.events) {
        if (e.id == IDC_STATUS) {
            texts.push_back(e.text);
        }
    }
    return texts;
}

// Waits for control id (the status line or the Logon button) to have shown
// text; returns that event.
bool waitForText(Dialog& d, int id, const std::string& text, Event* found = nullptr, int timeoutMs = WAIT_MS) {
    std::unique_lock<std::mutex> guard(d.lock);
    return d.changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
        for (const Event& e : d.events) {
            if (e.id == id && e.text == text) {
                if (found != nullptr) {
                    *found = e;
                }
                return true;
            }
        }
        return false;
    });
}

bool waitForStatus(Dialog& d, const std::string& text, Event* found = nullptr) {
    return waitForText(d, IDC_STATUS, text, found);
}

void clearEvents(Dialog& d) {
    std::lock_guard<std::mutex> guard(d.lock);
    d.events.clear();
}

void press(uint32_t window, int id) {
    // A button's WM_COMMAND: BN_CLICKED (0) in the high word.
    windowSendMessage(window, MESSAGE_COMMAND, static_cast<uintptr_t>(id));
}

struct Fields {
    const char* address;
    const char* user;
    const char* password;
};

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_uiState = UiState::Idle;
        g_sessionControl.window = 0;
        g_sessionControl.stopRequested = 0;
        g_sessionControl.dumpRequested = 0;
        g_sessionControl.clearRequested = 0;
        std::memset(g_address, 0, sizeof g_address);
        std::memset(g_userName, 0, sizeof g_userName);
        std::memset(g_password, 0, sizeof g_password);
        std::memset(g_reportPath, 0, sizeof g_reportPath);
        g_loopPaceMilliseconds = 20;

        d.handler = {&d, itemTextChanged, message, askSaveFileName};
        d.recording = false;
        d.window = hostedWindowCreate(&d.handler);
        ASSERT_NE(d.window, 0u);
        static int next = 1;
        std::snprintf(bmcAddress, sizeof bmcAddress, "127.0.40.%d", next++);
        // The dialog as its template makes it.
        fill({bmcAddress, "USERID", "KEBRU7NY"});
        dialogSetItemText(d.window, IDC_LOGON, "Logon");
        dialogSetItemText(d.window, IDC_STATUS, "");
        dialogSetItemText(d.window, IDC_DUMP_SEL, "Dump SEL");
        dialogSetItemText(d.window, IDC_CLEAR_SEL, "Clear SEL");
        dialogEnableItem(d.window, IDC_DUMP_SEL, false);
        dialogEnableItem(d.window, IDC_CLEAR_SEL, false);
        d.recording = true;

        char pattern[] = "/tmp/tavrel-window-XXXXXX";
        directory = mkdtemp(pattern);
    }

    void TearDown() override {
        // A worker still running ends at its next look at the flag.
        if (g_sessionControl.window.load() != 0 && g_uiState.load() != UiState::Idle) {
            g_sessionControl.stopRequested = 1;
            waitIdle();
        }
        bmc->stop();
        hostedWindowDestroy(d.window);
        g_loopPaceMilliseconds = 200;
        for (const std::string& file : files) {
            std::remove(file.c_str());
        }
        rmdir(directory.c_str());
    }

    void fill(const Fields& f) {
        dialogSetItemText(d.window, IDC_ADDRESS, f.address);
        dialogSetItemText(d.window, IDC_USERNAME, f.user);
        dialogSetItemText(d.window, IDC_PASSWORD, f.password);
    }

    std::string reportFile(const char* name) {
        files.push_back(directory + "/" + name);
        return files.back();
    }

    bool waitIdle() {
        const uint64_t start = monotonicMilliseconds();
        while (g_uiState.load() != UiState::Idle && monotonicMilliseconds() - start < WAIT_MS) {
            sleepMilliseconds(5);
        }
        // The worker has notified; give it a moment to close its socket.
        sleepMilliseconds(20);
        return g_uiState.load() == UiState::Idle;
    }

    bool waitSelButtonsEnabled() {
        const uint64_t start = monotonicMilliseconds();
        while (!(dialogIsItemEnabled(d.window, IDC_DUMP_SEL) && dialogIsItemEnabled(d.window, IDC_CLEAR_SEL)) &&
               monotonicMilliseconds() - start < WAIT_MS) {
            sleepMilliseconds(2);
        }
        return dialogIsItemEnabled(d.window, IDC_DUMP_SEL) && dialogIsItemEnabled(d.window, IDC_CLEAR_SEL);
    }

    void expectSelButtons(bool enabled) {
        EXPECT_EQ(dialogIsItemEnabled(d.window, IDC_DUMP_SEL), enabled);
        EXPECT_EQ(dialogIsItemEnabled(d.window, IDC_CLEAR_SEL), enabled);
    }

    // Logs on against a BMC that answers the logon and then the replies of rest.
    void logOn(std::vector<std::vector<FakeReply>> rest) {
        std::vector<std::vector<FakeReply>> script = {
            {{challengeReply({0x11, 0x22, 0x33, 0x44}, Bytes(16, 0xC5)), false}},
            {{activateReply({0x5A, 0x6B, 0x7C, 0x8D}, 0x1000), false}},
            {{privilegeReply(), false}},
        };
        script.insert(script.end(), rest.begin(), rest.end());
        ASSERT_TRUE(bmc->start(bmcAddress, scriptedResponder(script))) << "bind " << bmcAddress;
        press(d.window, IDC_LOGON);
        ASSERT_TRUE(waitForStatus(d, "Connected"));
        ASSERT_EQ(g_uiState.load(), UiState::Connected);
        clearEvents(d);
    }

    Dialog d;
    char bmcAddress[32];
    std::unique_ptr<FakeBmc> bmc{new FakeBmc};
    std::string directory;
    std::vector<std::string> files;
};

// ---- Reactions alone, without a worker ----

TEST_F(MainWindowTest, NotificationsSetStateStatusButtonAndSelButtons) {
    struct Case {
        const char* name;
        UiState before;
        bool selBefore;
        uint32_t code;
        const char* status;  // null: unchanged
        const char* button;  // null: unchanged
        bool selAfter;
        UiState after;
    };
    const Case cases[] = {
        {"connected", UiState::LoggingOn, false, NOTIFY_CONNECTED, "Connected", "Disconnect", true,
         UiState::Connected},
        {"logon aborted", UiState::LoggingOn, false, NOTIFY_LOGON_ABORTED, "Logon Aborted", "Logon", false,
         UiState::Idle},
        {"disconnected", UiState::Connected, true, NOTIFY_DISCONNECTED, "Disconnected", "Logon", false,
         UiState::Idle},
        {"disconnected during a dump", UiState::Connected, false, NOTIFY_DISCONNECTED, "Disconnected", "Logon",
         false, UiState::Idle},
        {"saved", UiState::Connected, false, NOTIFY_SEL_SAVED, "SEL Save Complete", nullptr, true,
         UiState::Connected},
        {"empty", UiState::Connected, false, NOTIFY_SEL_EMPTY, "SEL is Empty", nullptr, true, UiState::Connected},
        {"cleared", UiState::Connected, false, NOTIFY_SEL_CLEARED, "SEL Cleared", nullptr, true,
         UiState::Connected},
        {"report file error", UiState::Connected, false, NOTIFY_REPORT_FILE_ERROR, nullptr, nullptr, true,
         UiState::Connected},
    };
    for (const Case& c : cases) {
        g_uiState = c.before;
        dialogSetItemText(d.window, IDC_STATUS, "before");
        dialogSetItemText(d.window, IDC_LOGON, "button before");
        dialogEnableItem(d.window, IDC_DUMP_SEL, c.selBefore);
        dialogEnableItem(d.window, IDC_CLEAR_SEL, c.selBefore);

        windowNotify(d.window, c.code);

        EXPECT_EQ(itemText(d.window, IDC_STATUS), c.status != nullptr ? c.status : "before") << c.name;
        EXPECT_EQ(itemText(d.window, IDC_LOGON), c.button != nullptr ? c.button : "button before") << c.name;
        EXPECT_EQ(dialogIsItemEnabled(d.window, IDC_DUMP_SEL), c.selAfter) << c.name;
        EXPECT_EQ(dialogIsItemEnabled(d.window, IDC_CLEAR_SEL), c.selAfter) << c.name;
        EXPECT_EQ(g_uiState.load(), c.after) << c.name;
    }
}

TEST_F(MainWindowTest, HandlesItsMessagesAndLeavesOthers) {
    struct Case {
        uint32_t message;
        uintptr_t wParam;
        bool handled;
    };
    const Case cases[] = {
        {MESSAGE_DESTROY, 0, true},
        {MESSAGE_COMMAND, (0x0300u << 16) | IDC_ADDRESS, true},  // EN_CHANGE of a field: nothing
        {MESSAGE_COMMAND, (0x0300u << 16) | IDC_STATUS, true},
        {MESSAGE_COMMAND, 4242, true},
        {NOTIFY_REPORT_FILE_ERROR, 0, true},
        {0x0005, 0, false},                         // WM_SIZE
        {0x0010, 0, false},                         // WM_CLOSE: the default destroys the window
        {NOTIFY_REPORT_FILE_ERROR + 1, 0, false},   // WM_USER + 7
    };
    for (const Case& c : cases) {
        EXPECT_EQ(handleMainWindowMessage(d.window, c.message, c.wParam), c.handled)
            << "message " << c.message << " wParam " << c.wParam;
    }
    // None of them touched the session or the dialog.
    EXPECT_EQ(g_uiState.load(), UiState::Idle);
    EXPECT_EQ(g_sessionControl.window.load(), 0u);
    EXPECT_EQ(g_sessionControl.dumpRequested.load() + g_sessionControl.clearRequested.load(), 0u);
    EXPECT_TRUE(statusTexts(d).empty());
}

TEST_F(MainWindowTest, ClearSelActsOnTheFirstPressByTheLowWordOnly) {
    dialogEnableItem(d.window, IDC_DUMP_SEL, true);
    dialogEnableItem(d.window, IDC_CLEAR_SEL, true);
    // An accelerator's WM_COMMAND carries 1 in the high word.
    ASSERT_TRUE(handleMainWindowMessage(d.window, MESSAGE_COMMAND, (1u << 16) | IDC_CLEAR_SEL));
    EXPECT_EQ(g_sessionControl.clearRequested.load(), 1u);
    expectSelButtons(false);
    EXPECT_TRUE(statusTexts(d).empty());
}

TEST_F(MainWindowTest, DumpConfirmedAfterTheSessionEndedStaysRequested) {
    // The session ends while the Save As dialog is open; the user then
    // confirms a name.
    windowNotify(d.window, NOTIFY_CONNECTED);
    d.answers = {reportFile("late.txt")};
    d.duringSaveAs = [this] { handleMainWindowMessage(d.window, NOTIFY_DISCONNECTED, 0); };
    press(d.window, IDC_DUMP_SEL);
    EXPECT_EQ(itemText(d.window, IDC_STATUS), "Disconnected");
    EXPECT_EQ(g_uiState.load(), UiState::Idle);
    EXPECT_EQ(g_sessionControl.dumpRequested.load(), 1u);
    EXPECT_STREQ(g_reportPath, files.back().c_str());
    expectSelButtons(false);
}

// ---- Logon fields ----

TEST_F(MainWindowTest, LogonFieldsOutOfRangeAreRefusedWithoutTraffic) {
    ASSERT_TRUE(bmc->start(bmcAddress, scriptedResponder({})));
    const std::string address = bmcAddress;
    struct Case {
        const char* name;
        Fields fields;
        // The globals afterwards: at the first bad field the copying stops.
        bool addressCopied;
        bool userCopied;
    };
    const Case cases[] = {
        {"empty address", {"", "USERID", "KEBRU7NY"}, false, false},
        {"16-character address", {"127.000.040.0001", "USERID", "KEBRU7NY"}, false, false},
        {"empty user name", {address.c_str(), "", "KEBRU7NY"}, true, false},
        {"17-character user name", {address.c_str(), "ABCDEFGHIJKLMNOPQ", "KEBRU7NY"}, true, false},
        {"empty password", {address.c_str(), "USERID", ""}, true, true},
        {"17-character password", {address.c_str(), "USERID", "KEBRU7NYKEBRU7NY1"}, true, true},
    };
    for (const Case& c : cases) {
        std::snprintf(g_address, sizeof g_address, "old address");
        std::snprintf(g_userName, sizeof g_userName, "old user");
        std::snprintf(g_password, sizeof g_password, "old password");
        clearEvents(d);
        fill(c.fields);

        press(d.window, IDC_LOGON);

        EXPECT_EQ(statusTexts(d), std::vector<std::string>{"Invalid IP, User Name, or Password"}) << c.name;
        EXPECT_EQ(itemText(d.window, IDC_LOGON), "Logon") << c.name;
        EXPECT_EQ(g_uiState.load(), UiState::Idle) << c.name;
        EXPECT_EQ(g_sessionControl.window.load(), 0u) << c.name << ": no worker started";
        EXPECT_STREQ(g_address, c.addressCopied ? c.fields.address : "old address") << c.name;
        EXPECT_STREQ(g_userName, c.userCopied ? c.fields.user : "old user") << c.name;
        EXPECT_STREQ(g_password, "old password") << c.name;
    }
    sleepMilliseconds(200);
    EXPECT_TRUE(bmc->requests().empty());
}

TEST_F(MainWindowTest, LongestFieldsAreAcceptedAndStoredNulFilled) {
    // 15, 16 and 16 characters; the address is a loopback one of its own.
    const Fields longest = {"127.100.200.123", "ABCDEFGHIJKLMNOP", "0123456789abcdef"};
    ASSERT_TRUE(bmc->start(longest.address, scriptedResponder({})));
    std::memset(g_userName, 'x', sizeof g_userName);
    fill(longest);

    press(d.window, IDC_LOGON);
    ASSERT_TRUE(bmc->waitForRequests(1, WAIT_MS));

    const Fields* f = &longest;
    const char* globals[] = {g_address, g_userName, g_password};
    const char* texts[] = {f->address, f->user, f->password};
    for (int i = 0; i < 3; ++i) {
        char expected[LOGON_FIELD_SIZE] = {};
        std::memcpy(expected, texts[i], std::strlen(texts[i]));
        EXPECT_EQ(std::memcmp(globals[i], expected, LOGON_FIELD_SIZE), 0) << "field " << i;
    }
    // The user name went out in the Get Session Challenge, bytes 21..36.
    const Bytes request = bmc->requests().front();
    ASSERT_GE(request.size(), 37u);
    EXPECT_EQ(std::string(request.begin() + 21, request.begin() + 37), longest.user);
    EXPECT_EQ(g_uiState.load(), UiState::LoggingOn);

    press(d.window, IDC_LOGON);  // Abort
    ASSERT_TRUE(waitForStatus(d, "Logon Aborted"));
    EXPECT_TRUE(waitIdle());
}

// ---- With the worker ----

TEST_F(MainWindowTest, LogonThenDisconnect) {
    ASSERT_NO_FATAL_FAILURE(logOn({}));
    // logOn cleared the events; look at the state it reached.
    EXPECT_EQ(itemText(d.window, IDC_LOGON), "Disconnect");
    EXPECT_EQ(itemText(d.window, IDC_STATUS), "Connected");
    expectSelButtons(true);
    EXPECT_EQ(g_sessionControl.window.load(), d.window);

    press(d.window, IDC_LOGON);
    ASSERT_TRUE(waitForStatus(d, "Disconnected"));
    EXPECT_TRUE(waitIdle());
    EXPECT_EQ(itemText(d.window, IDC_LOGON), "Logon");
    expectSelButtons(false);
    EXPECT_EQ(statusTexts(d), std::vector<std::string>{"Disconnected"});
    EXPECT_EQ(bmc->requests().size(), 3u);  // no message closes the session
}

TEST_F(MainWindowTest, LogonShowsConnectingBeforeTheWorkersTexts) {
    ASSERT_TRUE(bmc->start(bmcAddress,
                          scriptedResponder({{{challengeReply({1, 2, 3, 4}, Bytes(16, 0x77)), false}},
                                             {{activateReply({9, 8, 7, 6}, 0x20), false}},
                                             {{privilegeReply(), false}}})));
    press(d.window, IDC_LOGON);
    ASSERT_TRUE(waitForText(d, IDC_LOGON, "Disconnect"));
    const std::vector<std::string> expected = {"Connecting", "Get Session Challenge", "Activate Session Request",
                                               "Set Privilege Level", "Connected"};
    EXPECT_EQ(statusTexts(d), expected);
    std::vector<std::string> buttons;
    {
        std::lock_guard<std::mutex> guard(d.lock);
        for (const Event& e : d.events) {
            if (e.id == IDC_LOGON) {
                buttons.push_back(e.text);
            }
            // The SEL buttons stay off until the session is established.
            EXPECT_FALSE(e.dumpEnabled || e.clearEnabled) << e.text;
        }
    }
    EXPECT_EQ(buttons, (std::vector<std::string>{"Logging on (Abort)", "Disconnect"}));
    expectSelButtons(true);
}

TEST_F(MainWindowTest, AbortDuringASilentLogonAndLogOnAgainAtOnce) {
    ASSERT_TRUE(bmc->start(bmcAddress, scriptedResponder({})));
    for (int round = 1; round <= 2; ++round) {
        clearEvents(d);
        press(d.window, IDC_LOGON);
        ASSERT_TRUE(bmc->waitForRequests(static_cast<size_t>(round), WAIT_MS)) << "round " << round;
        EXPECT_EQ(itemText(d.window, IDC_LOGON), "Logging on (Abort)");
        EXPECT_EQ(g_uiState.load(), UiState::LoggingOn);

        press(d.window, IDC_LOGON);
        EXPECT_EQ(g_sessionControl.stopRequested.load(), 1u);
        ASSERT_TRUE(waitForStatus(d, "Logon Aborted")) << "round " << round;
        EXPECT_TRUE(waitIdle());
        EXPECT_EQ(statusTexts(d),
                  (std::vector<std::string>{"Connecting", "Get Session Challenge", "Logon Aborted"}))
            << "round " << round;
        EXPECT_EQ(itemText(d.window, IDC_LOGON), "Logon");
        expectSelButtons(false);
    }
    EXPECT_EQ(bmc->requests().size(), 2u);
}

TEST_F(MainWindowTest, DumpOutcomes) {
    const Bytes first = systemEventRecord(1, 0x43F38A60, 0x07, 5);
    const Bytes second = systemEventRecord(2, 0x43F38A61, 0x07, 6);
    struct Case {
        const char* name;
        std::vector<std::vector<FakeReply>> replies;
        bool fileInMissingFolder;
        std::vector<std::string> texts;  // the status line from the press on
        int lines;                       // in the report, -1: no file
    };
    const Case cases[] = {
        {"two entries",
         {{{selEntryReply(2, first), false}}, {{selEntryReply(0xFFFF, second), false}}},
         false,
         {"Opening file ...", "Requesting SEL data", "SEL Save Complete"},
         2},
        {"empty log",
         {{{errorReply(0x28, 0x43, 0xCB), false}}},
         false,
         {"Opening file ...", "Requesting SEL data", "SEL is Empty"},
         0},
        {"file cannot be opened",
         {},
         true,
         {"Opening file ...", "Error, Unable to open file"},
         -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(logOn(c.replies));
        const std::string path = c.fileInMissingFolder ? directory + "/missing/report.txt" : reportFile("sel.txt");
        d.answers = {path};

        press(d.window, IDC_DUMP_SEL);
        Event opening;
        ASSERT_TRUE(waitForStatus(d, "Opening file ...", &opening));
        EXPECT_FALSE(opening.dumpEnabled || opening.clearEnabled);  // off while the dump runs
        ASSERT_TRUE(waitForStatus(d, c.texts.back()));
        // The worker's error text comes before its notification.
        ASSERT_TRUE(waitSelButtonsEnabled());
        sleepMilliseconds(100);  // a few passes: nothing more is shown

        EXPECT_EQ(statusTexts(d), c.texts);
        EXPECT_EQ(itemText(d.window, IDC_STATUS), c.texts.back());
        expectSelButtons(true);
        EXPECT_EQ(g_uiState.load(), UiState::Connected);
        EXPECT_STREQ(g_reportPath, path.c_str());
        EXPECT_EQ(g_sessionControl.dumpRequested.load(), 0u);
        std::ifstream in(path, std::ios::binary);
        if (c.lines < 0) {
            EXPECT_FALSE(in.good());
        } else {
            std::stringstream content;
            content << in.rdbuf();
            const std::string text = content.str();
            int lineEnds = 0;
            for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) {
                ++lineEnds;
            }
            EXPECT_EQ(lineEnds, c.lines);
        }

        press(d.window, IDC_LOGON);
        ASSERT_TRUE(waitForStatus(d, "Disconnected"));
        ASSERT_TRUE(waitIdle());
        bmc->stop();
        bmc.reset(new FakeBmc);  // its requests count from 0 again
        clearEvents(d);
    }
}

TEST_F(MainWindowTest, SaveAsOffersTheLastNameAndCancelDoesNothing) {
    const Bytes record = systemEventRecord(1, 0x43F38A60, 0x07, 5);
    ASSERT_NO_FATAL_FAILURE(logOn({{{selEntryReply(0xFFFF, record), false}}}));
    const std::string path = reportFile("first.txt");
    d.answers = {path, ""};

    press(d.window, IDC_DUMP_SEL);
    ASSERT_TRUE(waitForStatus(d, "SEL Save Complete"));
    const size_t requestsAfterDump = bmc->requests().size();
    clearEvents(d);

    press(d.window, IDC_DUMP_SEL);  // cancelled
    sleepMilliseconds(150);         // several loop passes
    ASSERT_EQ(d.offered.size(), 2u);
    EXPECT_EQ(d.offered[0], "");    // empty the first time
    EXPECT_EQ(d.offered[1], path);  // then the last chosen name
    EXPECT_TRUE(statusTexts(d).empty());
    expectSelButtons(true);
    EXPECT_EQ(g_sessionControl.dumpRequested.load(), 0u);
    EXPECT_EQ(bmc->requests().size(), requestsAfterDump);
}

TEST_F(MainWindowTest, ClearSel) {
    ASSERT_NO_FATAL_FAILURE(logOn({{{reserveReply({0x12, 0x34}), false}}, {{clearReply(0x01), false}}}));
    press(d.window, IDC_CLEAR_SEL);
    Event sending;
    ASSERT_TRUE(waitForStatus(d, "Sending Clear SEL Request", &sending));
    EXPECT_FALSE(sending.dumpEnabled || sending.clearEnabled);
    ASSERT_TRUE(waitForStatus(d, "SEL Cleared"));
    EXPECT_EQ(statusTexts(d), (std::vector<std::string>{"Sending Clear SEL Request", "SEL Cleared"}));
    expectSelButtons(true);
    EXPECT_EQ(g_uiState.load(), UiState::Connected);
    const std::vector<Bytes> requests = bmc->requests();
    ASSERT_EQ(requests.size(), 5u);  // logon, Reserve SEL, Clear SEL
    EXPECT_EQ(requests[3][35], 0x42);
    EXPECT_EQ(requests[4][35], 0x47);
    EXPECT_EQ(requests[4][41], 0xAA);  // start the erase
}

}  // namespace

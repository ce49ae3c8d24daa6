#include "app/globals.h"
#include "app/mainwindow.h"

#include <gtest/gtest.h>

namespace {

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        Win32ResetForTests();
        window = new cMainWindow;
        window->Create(Win32GetInstance(), SW_SHOW);
        window->ProcessMessages(); // whatever creation queued
        g_Quit = false;
    }
    void TearDown() override {
        delete window;
        Win32ResetForTests();
        g_Quit = false;
    }

    cMainWindow* window = nullptr;
};

} // namespace

TEST_F(MainWindow, EscapeAndCloseQuitAndNoOtherKeyDoes) {
    // An empty queue: a pump that waited for a message would hang here.
    EXPECT_FALSE(window->ProcessMessages());
    auto quits = [&](UINT message, WPARAM wParam) {
        g_Quit = false;
        PostMessageA(window->m_hWnd, message, wParam, 1);
        return window->ProcessMessages();
    };
    for (WPARAM vk : {WPARAM('A'), WPARAM('Q'), WPARAM(VK_RETURN), WPARAM(VK_SPACE), WPARAM('0')})
        EXPECT_FALSE(quits(WM_KEYDOWN, vk)) << "key " << vk;
    EXPECT_FALSE(quits(WM_CHAR, 'x'));
    EXPECT_TRUE(quits(WM_KEYDOWN, VK_ESCAPE));
    EXPECT_TRUE(quits(WM_CHAR, 0x100 | 27)); // the character code is the low byte
    EXPECT_TRUE(quits(WM_CLOSE, 0));
    // Closing left the window: it still receives messages.
    EXPECT_NE(window->m_hWnd, nullptr);
    EXPECT_TRUE(PostMessageA(window->m_hWnd, WM_PAINT, 0, 0));
}

TEST_F(MainWindow, DestroyingPostsQuitAndAQuitSetsTheFlagWhileThePumpStillEmptiesTheQueue) {
    // The procedure turns WM_DESTROY into PostQuitMessage.
    window->WndProc(window->m_hWnd, WM_DESTROY, 0, 0);
    EXPECT_TRUE(g_Quit);
    g_Quit = false;
    EXPECT_TRUE(window->ProcessMessages());
    // A quit queued ahead of other messages.
    g_Quit = false;
    PostMessageA(nullptr, WM_QUIT, 0, 0);
    PostMessageA(window->m_hWnd, WM_PAINT, 0, 0);
    PostMessageA(window->m_hWnd, WM_KEYDOWN, 'A', 1);
    EXPECT_TRUE(window->ProcessMessages());
    EXPECT_FALSE(window->HasMessage());
}

TEST_F(MainWindow, ProcedureIgnoresMessagesWithoutAnInstance) {
    cMainWindow* saved = cMainWindow::s_pMainWindow;
    cMainWindow::s_pMainWindow = nullptr;
    EXPECT_EQ(cMainWindow::WndProc(window->m_hWnd, WM_CLOSE, 0, 0), 0);
    EXPECT_FALSE(g_Quit);
    cMainWindow::s_pMainWindow = saved;
    EXPECT_EQ(cMainWindow::WndProc(window->m_hWnd, WM_SETCURSOR, 0, 0), 1);
}

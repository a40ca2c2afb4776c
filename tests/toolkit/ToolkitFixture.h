// The fixture of the toolkit tests: a shown test form, the UI driver
// dispatching through the toolkit, and a way to wait for log entries.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "ToolkitTestForm.h"
#include "UiDriver.h"

namespace ui = ktxtest::ui;

class ToolkitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ui::SetDispatcher([](MSG& m) { Application->DispatchOne(m); });
        Application->SetTitle("Toolkit tests");
        form.reset(new TfrmToolkitTest(nullptr));
    }
    void TearDown() override
    {
        form.reset();
        ui::Pump(20);
    }
    void ShowForm()
    {
        form->Show();
        ASSERT_NE(ui::WaitForWindow({"TfrmToolkitTest"}, 5000), nullptr);
        ui::Pump(50);
    }
    // Waits (pumping) until pred() holds.
    template <typename Pred>
    bool WaitFor(Pred pred, DWORD timeoutMs = 5000)
    {
        DWORD start = GetTickCount();
        while (!pred()) {
            if (GetTickCount() - start > timeoutMs) return false;
            ui::Pump(10);
        }
        return true;
    }
    std::unique_ptr<TfrmToolkitTest> form;
};

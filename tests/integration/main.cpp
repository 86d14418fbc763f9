// Integration tests: the program's real code in real windows under Wine.
#include <gmock/gmock.h>

#include "ui/Application.h"

int main(int argc, char** argv)
{
    testing::InitGoogleMock(&argc, argv);
    ui::TApplication& application = ui::Application();
    application.Title = "Quellor";
    application.HelpFile = "quellor.chm";
    application.Initialize();
    return RUN_ALL_TESTS();
}

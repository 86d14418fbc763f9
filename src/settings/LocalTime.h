#pragma once

// The current local date and time as an OLE Automation date.
double NowAsOleDate();

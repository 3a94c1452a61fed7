#pragma once

// Makes every box of the launcher a real modal box. Needs the application object.
void useMessageBoxes();

#pragma once

class QLineEdit;

// Makes a line edit show every typed character as "#", whatever the style's
// own password character is.
void showTypedCharactersAsHash(QLineEdit* field);

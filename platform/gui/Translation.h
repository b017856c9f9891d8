#pragma once

class QCoreApplication;

namespace varnel {

// Loads the toolkit's own texts (its dialogs' buttons, the fields' menus) in
// the user's languages, from the toolkit's translations folder. Where none is
// installed, or no language of the user's has one, they stay as they are.
void LoadToolkitTranslation(QCoreApplication& app);

} // namespace varnel

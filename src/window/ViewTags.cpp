#include "window/ViewTags.h"

namespace sondrel {

int viewTag(const QWidget* view) {
    const QVariant tag = view->property(kTagProperty);
    return tag.isValid() ? tag.toInt() : 0;
}

QWidget* viewWithTag(QWidget* root, int tag) {
    if (root == nullptr) {
        return nullptr;
    }
    if (viewTag(root) == tag) {
        return root;
    }
    const QList<QWidget*> children = root->findChildren<QWidget*>();
    for (QWidget* child : children) {
        if (viewTag(child) == tag) {
            return child;
        }
    }
    return nullptr;
}

} // namespace sondrel

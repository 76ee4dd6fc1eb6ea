// The page's style, body and script (page/page.css, page.html, page.js),
// compiled in from those files by page/embed.cmake.
#ifndef LOPPER_PICTURE_PAGE_ASSETS_H
#define LOPPER_PICTURE_PAGE_ASSETS_H

namespace lopper::picture_detail {

extern const char kPageStyle[];
extern const char kPageBody[];
extern const char kPageScript[];

}  // namespace lopper::picture_detail

#endif

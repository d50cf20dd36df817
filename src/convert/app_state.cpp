#include "convert/app_state.h"

namespace zelvo {

AppState& App() {
  static AppState state;
  return state;
}

}  // namespace zelvo

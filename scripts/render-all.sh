#!/usr/bin/env bash
# Renders every window and the tray icon in the light and the dark colour scheme, at 1x and 2x,
# in en_US and de_DE, to PNG files for review by eye:
#   scripts/render-all.sh <output folder> [build folder]
# Writes <output folder>/<scheme>-<scale>x-<locale>/{tray,insights,settings,onboarding,feedback}.
set -euo pipefail
out=$(realpath -m "${1:?usage: $0 <output folder> [build folder]}")
build=$(realpath "${2:-build}")
here=$(cd "$(dirname "$0")" && pwd)
exec "$here/with-session.sh" bash -c '
set -euo pipefail
out=$1 build=$2
export QT_QPA_PLATFORM=xcb
for scheme in light dark; do
  for scale in 1 2; do
    for locale in en_US de_DE; do
      dir=$out/$scheme-${scale}x-$locale
      mkdir -p "$dir"
      export QUILLBY_RENDER_SCHEME=$scheme QUILLBY_RENDER_SCALE=$scale QUILLBY_RENDER_LOCALE=$locale
      "$build/src/menubar/quillby_render_samples" "$dir/tray" >/dev/null
      "$build/tests/insights_window/quillby_render_insights" "$dir/insights" >/dev/null
      "$build/src/settings_window/quillby_render_settings" "$dir/settings" >/dev/null
      QUILLBY_RENDER_DIR=$dir/onboarding "$build/tests/onboarding_window/onboarding_window_tests" \
        --gtest_filter="OnboardingRender.*" >/dev/null
      QUILLBY_RENDER_DIR=$dir/feedback "$build/tests/services_window/services_window_tests" \
        --gtest_filter="FeedbackWindow.RendersToPng" >/dev/null
      echo "$dir"
    done
  done
done
' render-all "$out" "$build"

// The page's colours: the system's light or dark, or the night mode, red on
// black, which keeps an observer's eyes dark-adapted at the telescope.  The
// choice is remembered; it is set before the page is drawn, so that a
// night page never flashes white.
'use strict';

(() => {
    const KEY = 'skynote-theme';
    const remembered = () => {
        try {
            return localStorage.getItem(KEY);
        } catch (blocked) {
            return null; // storage switched off: the night mode lasts for the page
        }
    };
    const apply = (theme) => {
        if (theme === 'night')
            document.documentElement.dataset.theme = 'night';
        else
            delete document.documentElement.dataset.theme;
        const button = document.getElementById('night');
        if (button)
            button.setAttribute('aria-pressed', String(theme === 'night'));
    };
    apply(remembered());
    document.addEventListener('DOMContentLoaded', () => {
        apply(remembered());
        document.getElementById('night').addEventListener('click', () => {
            const theme = document.documentElement.dataset.theme === 'night' ? 'system' : 'night';
            try {
                localStorage.setItem(KEY, theme);
            } catch (blocked) {
                // not remembered, still applied
            }
            apply(theme);
        });
    });
})();

(function () {
  'use strict';
  function key(cell) {
    var v = cell.getAttribute('data-v');
    return v === null ? cell.textContent : Number(v);
  }
  function order(a, b) {
    var x = a[0], y = b[0];
    if (typeof x === 'number' && typeof y === 'number') return x - y;
    if (typeof x === 'number') return -1;
    if (typeof y === 'number') return 1;
    return x < y ? -1 : x > y ? 1 : 0;
  }
  document.querySelectorAll('table.sortable').forEach(function (table) {
    var body = table.tBodies[0];
    var heads = Array.prototype.slice.call(table.tHead.rows[0].cells);
    heads.forEach(function (th, column) {
      var button = th.querySelector('button');
      if (!button) return;
      button.addEventListener('click', function () {
        var up = th.getAttribute('aria-sort') !== 'ascending';
        heads.forEach(function (other) { other.removeAttribute('aria-sort'); });
        th.setAttribute('aria-sort', up ? 'ascending' : 'descending');
        var rows = Array.prototype.map.call(body.rows, function (row, i) {
          return [key(row.cells[column]), i, row];
        });
        rows.sort(function (a, b) { return (up ? order(a, b) : order(b, a)) || a[1] - b[1]; });
        var sorted = document.createDocumentFragment();
        rows.forEach(function (entry) { sorted.appendChild(entry[2]); });
        body.appendChild(sorted);
      });
    });
  });
  var filter = document.getElementById('verdict-filter');
  if (filter) {
    filter.addEventListener('change', function () {
      var shown = 0;
      Array.prototype.forEach.call(document.getElementById('fleet').tBodies[0].rows, function (row) {
        var show = filter.value === '' || row.getAttribute('data-verdict') === filter.value;
        row.hidden = !show;
        if (show) shown += 1;
      });
      document.getElementById('shown-count').textContent = String(shown);
    });
  }
  document.body.setAttribute('data-ready-ms', String(Math.round(performance.now())));
  document.body.setAttribute('data-page-ready', 'yes');
})();

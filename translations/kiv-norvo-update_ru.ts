<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>BootArchivingSnapshot</name>
    <message>
        <source>The archive of /boot (%1) is missing.</source>
        <translation>Архив /boot (%1) отсутствует.</translation>
    </message>
    <message>
        <source>%1 cannot be made to extract /boot into.</source>
        <translation>Не удалось создать %1 для извлечения /boot.</translation>
    </message>
    <message>
        <source>The archive %1 holds no /boot.</source>
        <translation>Архив %1 не содержит /boot.</translation>
    </message>
</context>
<context>
    <name>BtrfsSnapshot</name>
    <message>
        <source>%1 cannot be made: %2</source>
        <translation>Не удалось создать %1: %2</translation>
    </message>
    <message>
        <source>The top level of the btrfs file system %1 cannot be mounted: %2</source>
        <translation>Не удалось смонтировать верхний уровень файловой системы btrfs %1: %2</translation>
    </message>
    <message>
        <source>The mount of / cannot be read: %1</source>
        <translation>Не удалось узнать, что смонтировано в /: %1</translation>
    </message>
    <message>
        <source>/ is not mounted from a btrfs file system.</source>
        <translation>В / смонтирована не файловая система btrfs.</translation>
    </message>
    <message>
        <source>The root is the top level of its btrfs file system, which a restore cannot swap for a snapshot: no snapshot is taken. A root in a subvolume of its own (such as @rootfs) can have one.</source>
        <translation>Корень — верхний уровень своей файловой системы btrfs, и при восстановлении его нельзя заменить снимком: снимок не создаётся. Корень в собственном подтоме (например, @rootfs) снимок иметь может.</translation>
    </message>
    <message>
        <source>The root is mounted by its subvolume ID (subvolid=), which would find the replaced root again after a restore: no snapshot is taken. Mount it by name (subvol=%1) in /etc/fstab and the boot loader to have one.</source>
        <translation>Корень смонтирован по идентификатору подтома (subvolid=), по которому после восстановления снова нашёлся бы заменённый корень: снимок не создаётся. Чтобы снимок был возможен, монтируйте корень по имени (subvol=%1) в /etc/fstab и в загрузчике.</translation>
    </message>
    <message>
        <source>&quot;btrfs subvolume show /&quot; names no UUID and ID of the root subvolume.</source>
        <translation>«btrfs subvolume show /» не сообщает UUID и идентификатор корневого подтома.</translation>
    </message>
    <message>
        <source>the read-only btrfs subvolume %1 beside the root subvolume %2 on %3</source>
        <translation>подтом btrfs %1 только для чтения рядом с корневым подтомом %2 на %3</translation>
    </message>
    <message>
        <source>%1 and the archive %2</source>
        <translation>%1 и архив %2</translation>
    </message>
    <message>
        <source>The free space of the btrfs file system of / cannot be read.</source>
        <translation>Не удалось узнать свободное место файловой системы btrfs в /.</translation>
    </message>
    <message>
        <source>Not enough room on the btrfs file system of / for the update: it needs about %1 MB of data and %2 MB of metadata, %3 MB and %4 MB are free.</source>
        <translation>На файловой системе btrfs в / не хватает места для обновления: нужно около %1 МБ для данных и %2 МБ для метаданных, свободно %3 МБ и %4 МБ.</translation>
    </message>
    <message>
        <source>Something that is not a snapshot taken by this program stands at %1 on %2: move it away or delete it to have a snapshot.</source>
        <translation>На месте %1 на %2 находится что-то, что не является снимком этой программы: переместите или удалите это, чтобы снимок был возможен.</translation>
    </message>
    <message>
        <source>There is no snapshot of the root taken by this program at %1 on %2.</source>
        <translation>Снимка корня, созданного этой программой, нет на месте %1 на %2.</translation>
    </message>
    <message>
        <source>The restored root cannot be marked: %1</source>
        <translation>Не удалось пометить восстановленный корень: %1</translation>
    </message>
    <message>
        <source>The subvolumes nested in the root cannot be carried over to the restored root (%1).</source>
        <translation>Вложенные в корень подтома не удалось перенести в восстановленный корень (%1).</translation>
    </message>
    <message>
        <source>The restored root cannot take the place of %1: %2</source>
        <translation>Восстановленный корень не удалось поставить на место %1: %2</translation>
    </message>
    <message>
        <source>the restored root is not the default subvolume yet (btrfs subvolume set-default %1: %2)</source>
        <translation>восстановленный корень ещё не стал подтомом по умолчанию (btrfs subvolume set-default %1: %2)</translation>
    </message>
    <message>
        <source>/boot could not be replaced (%1); put it back by hand: tar --xattrs --acls -xzf %2 -C /</source>
        <translation>/boot заменить не удалось (%1); восстановите его вручную: tar --xattrs --acls -xzf %2 -C /</translation>
    </message>
    <message>
        <source>The restored root takes the place of %1 at the next boot, but %2. Do that before any reboot.</source>
        <translation>Восстановленный корень займёт место %1 при следующей загрузке, но %2. Сделайте это до любой перезагрузки.</translation>
    </message>
    <message>
        <source>The btrfs file system of / is %1% full. An update that runs out of room there fails half-way; the snapshot (%2) is the way back then.
</source>
        <translation>Файловая система btrfs в / заполнена на %1%. Обновление, которому не хватит места, прервётся на полпути; тогда вернуть систему можно из снимка (%2).
</translation>
    </message>
    <message>
        <source>/boot is a subvolume nested in the root subvolume %1, which neither its snapshot nor an archive could put back as it was: no snapshot is taken. A /boot that is a folder of the root, or mounted from a file system or subvolume of its own, can have one.</source>
        <translation></translation>
    </message>
    <message>
        <source>The read-only subvolume %1 is nested in the root subvolume, and a restore could not move it into the restored root: no snapshot is taken. Move it beside the root (into the top level) to have one.</source>
        <translation>Подтом только для чтения %1 вложен в корневой подтом, и восстановление не смогло бы перенести его в восстановленный корень: снимок не создаётся. Чтобы снимок был возможен, перенесите его рядом с корнем (на верхний уровень).</translation>
    </message>
    <message>
        <source>The subvolume %1, nested in the root subvolume, is mounted on %2, and a restore could not move it into the restored root: no snapshot is taken. Move it beside the root (into the top level) and mount it from there to have one.</source>
        <translation>Подтом %1, вложенный в корневой подтом, смонтирован в %2, и восстановление не смогло бы перенести его в восстановленный корень: снимок не создаётся. Чтобы снимок был возможен, перенесите его рядом с корнем (на верхний уровень) и монтируйте оттуда.</translation>
    </message>
    <message>
        <source>The restored root has taken the place of %1; the system still runs the root it replaced. Reboot to start the restored system.</source>
        <translation>Восстановленный корень занял место %1; система всё ещё работает с заменённым корнем. Перезагрузитесь, чтобы запустить восстановленную систему.</translation>
    </message>
    <message>
        <source>The restored root has taken the place of %1, but %2. Do that before any reboot.</source>
        <translation>Восстановленный корень занял место %1, но %2. Сделайте это до любой перезагрузки.</translation>
    </message>
    <message>
        <source>The system runs the restored root, but %1.</source>
        <translation>Система работает с восстановленным корнем, но %1.</translation>
    </message>
    <message>
        <source>an unknown amount of room</source>
        <translation>неизвестный объём места</translation>
    </message>
    <message>
        <source>%1 MB of room of its own</source>
        <translation>%1 МБ собственного места</translation>
    </message>
    <message>
        <source>The system was restored from its snapshot. The root it replaced is kept as the btrfs subvolume %1 on %2, holding %3.
Do you want to delete it? No keeps it, and it is not asked again.</source>
        <translation>Система восстановлена из снимка. Заменённый корень сохранён как подтом btrfs %1 на %2 и занимает %3.
Удалить его? «Нет» сохраняет его, и вопрос больше не задаётся.</translation>
    </message>
    <message>
        <source>The btrfs subvolume %1 could not be deleted: %2</source>
        <translation>Подтом btrfs %1 удалить не удалось: %2</translation>
    </message>
</context>
<context>
    <name>HistoryDialog</name>
    <message>
        <source>History of updates</source>
        <translation>История обновлений</translation>
    </message>
    <message>
        <source>Date</source>
        <translation>Дата</translation>
    </message>
    <message>
        <source>Sources</source>
        <translation>Источники</translation>
    </message>
    <message>
        <source>Release</source>
        <translation>Выпуск</translation>
    </message>
    <message>
        <source>Installed</source>
        <translation>Установлено</translation>
    </message>
    <message>
        <source>Upgraded or downgraded</source>
        <translation>Обновлено или откачено</translation>
    </message>
    <message>
        <source>Removed</source>
        <translation>Удалено</translation>
    </message>
    <message>
        <source>Result</source>
        <translation>Результат</translation>
    </message>
    <message>
        <source>Roll back</source>
        <translation>Откатить</translation>
    </message>
    <message>
        <source>succeeded</source>
        <translation>успешно</translation>
    </message>
    <message>
        <source>failed (exit code %1)</source>
        <translation>ошибка (код выхода %1)</translation>
    </message>
    <message>
        <source>did not end</source>
        <translation>не завершился</translation>
    </message>
    <message>
        <source>rollback of %1: %2</source>
        <translation>откат %1: %2</translation>
    </message>
    <message>
        <source>%1, rolled back</source>
        <translation>%1, откачен</translation>
    </message>
    <message>
        <source>No run of the update tool is recorded yet.</source>
        <translation>Запусков программы обновления пока не записано.</translation>
    </message>
    <message>
        <source>Run %1: %2</source>
        <translation>Запуск %1: %2</translation>
    </message>
    <message>
        <source>Started %1, ended %2</source>
        <translation>Начат %1, завершён %2</translation>
    </message>
    <message>
        <source>never</source>
        <translation>никогда</translation>
    </message>
    <message>
        <source>Source %1 %2</source>
        <translation>Источник %1 %2</translation>
    </message>
    <message>
        <source>  installed %1 %2</source>
        <translation>  установлен %1 %2</translation>
    </message>
    <message>
        <source>  removed %1 %2</source>
        <translation>  удалён %1 %2</translation>
    </message>
    <message>
        <source>  %1 %2 → %3</source>
        <translation>  %1 %2 → %3</translation>
    </message>
    <message>
        <source>Versions kept for the way back: %1 in %2</source>
        <translation>Версий, сохранённых для отката: %1 в %2</translation>
    </message>
    <message>
        <source>Return the packages of the run %1 to their versions before it?</source>
        <translation>Вернуть пакеты запуска %1 к версиям, которые были до него?</translation>
    </message>
    <message>
        <source>remove %1 %2</source>
        <translation>удалить %1 %2</translation>
    </message>
    <message>
        <source>install %1 %2 again</source>
        <translation>снова установить %1 %2</translation>
    </message>
    <message>
        <source>%1 %2 → %3</source>
        <translation>%1 %2 → %3</translation>
    </message>
</context>
<context>
    <name>LvmSnapshot</name>
    <message>
        <source>the LVM volume %1 and the archive %2</source>
        <translation>том LVM %1 и архив %2</translation>
    </message>
    <message>
        <source>The snapshot volume %1 will be merged back at the next boot, but /boot could not be replaced (%2). Before any reboot, put /boot back by hand: tar --xattrs --acls -xzf %3 -C /</source>
        <translation>Том снимка %1 будет слит обратно при следующей загрузке, но /boot заменить не удалось (%2). До любой перезагрузки восстановите /boot вручную: tar --xattrs --acls -xzf %3 -C /</translation>
    </message>
    <message>
        <source>The snapshot volume %1 is %2% full. A full snapshot can no longer be restored: &quot;lvextend -L +2G %1&quot; makes it larger.
</source>
        <translation>Том снимка %1 заполнен на %2%. Из заполненного снимка восстановить систему уже нельзя: увеличить его можно командой «lvextend -L +2G %1».
</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Kiv norvo update</source>
        <translation>Обновление Kiv norvo</translation>
    </message>
    <message>
        <source>System information</source>
        <translation>Сведения о системе</translation>
    </message>
    <message>
        <source>Sources</source>
        <translation>Источники</translation>
    </message>
    <message>
        <source>Remove source</source>
        <translation>Удалить источник</translation>
    </message>
    <message>
        <source>Add source</source>
        <translation>Добавить источник</translation>
    </message>
    <message>
        <source>Change source...</source>
        <translation>Изменить источник...</translation>
    </message>
    <message>
        <source>Options</source>
        <translation>Параметры</translation>
    </message>
    <message>
        <source>Application autoupdate</source>
        <translation>Автообновление приложения</translation>
    </message>
    <message>
        <source>Create system snapshot (will be deleted after a successful update)</source>
        <translation>Создать снимок системы (будет удалён после успешного обновления)</translation>
    </message>
    <message>
        <source>Keep sources for later use</source>
        <translation>Сохранить источники для дальнейшего использования</translation>
    </message>
    <message>
        <source>Check GOST checksums for ISO images</source>
        <translation>Проверять контрольные суммы ГОСТ для ISO-образов</translation>
    </message>
    <message>
        <source>Check MD5 checksums for ISO images</source>
        <translation>Проверять контрольные суммы MD5 для ISO-образов</translation>
    </message>
    <message>
        <source>Install update using repositores in /etc/apt/sources.list</source>
        <translation>Установить обновление из репозиториев /etc/apt/sources.list</translation>
    </message>
    <message>
        <source>Don&apos;t search for main distributive repository</source>
        <translation>Не искать основной репозиторий дистрибутива</translation>
    </message>
    <message>
        <source>Install the latest available kernel</source>
        <translation>Установить последнее доступное ядро</translation>
    </message>
    <message>
        <source>Simple mode</source>
        <translation>Простой режим</translation>
    </message>
    <message>
        <source>Imitate</source>
        <translation>Имитировать</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Обновить</translation>
    </message>
    <message>
        <source>Warning!</source>
        <translation>Внимание!</translation>
    </message>
    <message>
        <source>The automatic update service is active!
it could cause to error.
Would you like to stop update service?</source>
        <translation>Служба автоматического обновления активна!
Это может привести к ошибке.
Остановить службу обновления?</translation>
    </message>
    <message>
        <source>Failed to stop the service</source>
        <translation>Не удалось остановить службу</translation>
    </message>
    <message>
        <source>Update confirmation</source>
        <translation>Подтверждение обновления</translation>
    </message>
    <message>
        <source>The next actions will be performed:
1. Check update sources.
2. Check possibility of update system.
3. Save system snapshot (optional).
4. System update.

It is advisable to save all critical information on an external medium!
Do you want to continue?</source>
        <translation>Будут выполнены следующие действия:
1. Проверка источников обновления.
2. Проверка возможности обновления системы.
3. Сохранение снимка системы (по выбору).
4. Обновление системы.

Рекомендуется сохранить всю важную информацию на внешнем носителе!
Продолжить?</translation>
    </message>
    <message>
        <source>Provided sources are incorrect. Check %1 for details</source>
        <translation>Указанные источники некорректны. Подробности в %1</translation>
    </message>
    <message>
        <source>Critical error</source>
        <translation>Критическая ошибка</translation>
    </message>
    <message>
        <source>Incorrect sources</source>
        <translation>Некорректные источники</translation>
    </message>
    <message>
        <source>Different versions of the latest update
was found in repositories,
but it&apos;s prohibited.
Are you sure the sources are correct?</source>
        <translation>В репозиториях найдены разные версии
последнего обновления,
что недопустимо.
Вы уверены, что источники указаны верно?</translation>
    </message>
    <message>
        <source>Do not shutdown and reboot the system!</source>
        <translation>Не выключайте и не перезагружайте систему!</translation>
    </message>
    <message>
        <source>The file system is not support creating of snapshots.</source>
        <translation>Файловая система не поддерживает создание снимков.</translation>
    </message>
    <message>
        <source>Expert mode</source>
        <translation>Экспертный режим</translation>
    </message>
    <message>
        <source>Check and update system</source>
        <translation>Проверить и обновить систему</translation>
    </message>
    <message>
        <source>Imitation is success</source>
        <translation>Имитация успешна</translation>
    </message>
    <message>
        <source>Imitation is success.</source>
        <translation>Имитация прошла успешно.</translation>
    </message>
    <message>
        <source>Reboot system</source>
        <translation>Перезагрузить систему</translation>
    </message>
    <message>
        <source>Update is success.</source>
        <translation>Обновление прошло успешно.</translation>
    </message>
    <message>
        <source>Update is success.
%1 is installed.</source>
        <translation>Обновление прошло успешно.
%1 установлено.</translation>
    </message>
    <message>
        <source>Update is success</source>
        <translation>Обновление успешно</translation>
    </message>
    <message>
        <source>%1 is already installed.</source>
        <translation>%1 уже установлено.</translation>
    </message>
    <message>
        <source>
Don&apos;t forget to enable the enable 
automatic service if it needed.</source>
        <translation>
Не забудьте включить службу
автоматического обновления, если она нужна.</translation>
    </message>
    <message>
        <source>Imitation error</source>
        <translation>Ошибка имитации</translation>
    </message>
    <message>
        <source>Imitation is not success</source>
        <translation>Имитация не удалась</translation>
    </message>
    <message>
        <source>Update error</source>
        <translation>Ошибка обновления</translation>
    </message>
    <message>
        <source>Update is not success</source>
        <translation>Обновление не удалось</translation>
    </message>
    <message>
        <source> Do you want to restore the system from a snapshot (system will be reboot)?</source>
        <translation> Восстановить систему из снимка (система будет перезагружена)?</translation>
    </message>
    <message>
        <source>
Restore...
</source>
        <translation>
Восстановление...
</translation>
    </message>
    <message>
        <source>Dpkg error: please, contact your administrator</source>
        <translation>Ошибка dpkg: обратитесь к администратору</translation>
    </message>
    <message>
        <source>Snapshot size %1 G
</source>
        <translation>Размер снимка %1 Г
</translation>
    </message>
    <message>
        <source>System snapshot (%1) is created.

</source>
        <translation>Снимок системы (%1) создан.

</translation>
    </message>
    <message>
        <source>System snapshot (%1) is not created!

</source>
        <translation>Снимок системы (%1) не создан!

</translation>
    </message>
    <message>
        <source>System snapshot (%1) is not created! Do you want to continue update?</source>
        <translation>Снимок системы (%1) не создан! Продолжить обновление?</translation>
    </message>
    <message>
        <source>The application has been updated to version %1. Restart the application for the changes to take effect.
</source>
        <translation>Приложение обновлено до версии %1. Перезапустите приложение, чтобы изменения вступили в силу.
</translation>
    </message>
    <message>
        <source>Update to new version</source>
        <translation>Обновление до новой версии</translation>
    </message>
    <message>
        <source>Do you want to restart application and continue update?</source>
        <translation>Перезапустить приложение и продолжить обновление?</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Ошибка</translation>
    </message>
    <message>
        <source>The last update failed. Do you want to restore the system from a snapshot (system will be reboot)?</source>
        <translation>Последнее обновление завершилось неудачно. Восстановить систему из снимка (система будет перезагружена)?</translation>
    </message>
    <message>
        <source>If you don&apos;t want to install the latest kernel,
remove the &quot;%1&quot; package manually.</source>
        <translation>Если вы не хотите устанавливать последнее ядро,
удалите пакет «%1» вручную.</translation>
    </message>
    <message>
        <source>Remove confirmation</source>
        <translation>Подтверждение удаления</translation>
    </message>
    <message>
        <source>Do you want to remove source?</source>
        <translation>Удалить источник?</translation>
    </message>
    <message>
        <source>The automatic update service was stopped for this update and could not be started again.</source>
        <translation>Служба автоматического обновления была остановлена для этого обновления, и её не удалось запустить снова.</translation>
    </message>
    <message>
        <source>The system was not restored from the snapshot (%1) and will not be rebooted.
%2</source>
        <translation>Система не восстановлена из снимка (%1) и не будет перезагружена.
%2</translation>
    </message>
    <message>
        <source>Restore error</source>
        <translation>Ошибка восстановления</translation>
    </message>
    <message>
        <source>A system snapshot (%1) from an earlier update is still kept: %2.
It is not removed by itself; remove it when it is no longer needed.</source>
        <translation>Снимок системы (%1) от прошлого обновления всё ещё хранится: %2.
Сам он не удаляется; удалите его, когда он станет не нужен.</translation>
    </message>
    <message>
        <source>
The update tool changed nothing on the system, so there is nothing to restore.</source>
        <translation>
Средство обновления ничего не изменило в системе, восстанавливать нечего.</translation>
    </message>
    <message>
        <source>
The snapshot taken for this update (%1) was removed.</source>
        <translation>
Снимок, сделанный для этого обновления (%1), удалён.</translation>
    </message>
    <message>
        <source>
The snapshot taken for this update (%1) could not be removed: %2</source>
        <translation>
Снимок, сделанный для этого обновления (%1), не удалось удалить: %2</translation>
    </message>
    <message>
        <source>A system snapshot (%1) from an earlier update is still kept. The snapshot of this update replaces it with one of the system as it is now.
Replace it? No keeps it and cancels the update.</source>
        <translation>Снимок системы (%1) от прежнего обновления всё ещё хранится. Снимок этого обновления заменит его снимком системы в её нынешнем состоянии.
Заменить его? «Нет» сохраняет его и отменяет обновление.</translation>
    </message>
    <message>
        <source>
Waiting for the update tool to end...
</source>
        <translation>
Ожидание завершения средства обновления...
</translation>
    </message>
    <message>
        <source>
The update tool has not ended within %1 minutes and may still be changing the system.</source>
        <translation>
Средство обновления не завершилось за %1 мин. и, возможно, всё ещё изменяет систему.</translation>
    </message>
    <message>
        <source>A restore from the system snapshot (%1) did not end: the system may be partly restored.
Do you want to restore the system from the snapshot again (system will be reboot)? No keeps the snapshot.</source>
        <translation>Восстановление из снимка системы (%1) не было завершено: система может быть восстановлена лишь частично.
Восстановить систему из снимка заново (система будет перезагружена)? «Нет» сохраняет снимок.</translation>
    </message>
    <message>
        <source>The restore from the snapshot (%1) is half done, and the system will not be rebooted.
%2</source>
        <translation>Восстановление из снимка (%1) выполнено наполовину, система не будет перезагружена.
%2</translation>
    </message>
    <message>
        <source>The machine could not be rebooted: the reboot command could not be started. Reboot it yourself to finish.</source>
        <translation>Компьютер не удалось перезагрузить: команду перезагрузки не удалось запустить. Перезагрузите его сами, чтобы завершить.</translation>
    </message>
    <message>
        <source>Reboot error</source>
        <translation>Ошибка перезагрузки</translation>
    </message>
    <message>
        <source>History</source>
        <translation>История</translation>
    </message>
    <message>
        <source>The runs of the update tool, and the way back from each</source>
        <translation>Запуски программы обновления и откат каждого из них</translation>
    </message>
    <message>
        <source>Return the packages to their versions before the update?</source>
        <translation>Вернуть пакеты к версиям, которые были до обновления?</translation>
    </message>
    <message>
        <source>Rollback is success</source>
        <translation>Откат выполнен успешно</translation>
    </message>
    <message>
        <source>The packages are back at their versions before the update.</source>
        <translation>Пакеты возвращены к версиям, которые были до обновления.</translation>
    </message>
    <message>
        <source>Rollback is not success</source>
        <translation>Откат не выполнен</translation>
    </message>
    <message>
        <source>Rollback error</source>
        <translation>Ошибка отката</translation>
    </message>
    <message>
        <source>The packages could not be returned to their versions before the update; the log above says why. &quot;norvo-update --history&quot; lists the runs.</source>
        <translation>Пакеты не удалось вернуть к версиям, которые были до обновления; причина — в журнале выше. Список запусков выводит «norvo-update --history».</translation>
    </message>
    <message>
        <source>A restore from the system snapshot (%1) did not end; it has been completed now.
%2</source>
        <translation></translation>
    </message>
</context>
<context>
    <name>NorvoUpdate</name>
    <message>
        <source>The update crashed!</source>
        <translation>Обновление аварийно завершилось!</translation>
    </message>
    <message>
        <source>The update is not success!</source>
        <translation>Обновление не удалось!</translation>
    </message>
    <message>
        <source>The update failed to start!</source>
        <translation>Не удалось запустить обновление!</translation>
    </message>
    <message>
        <source>An unknown error occurred!</source>
        <translation>Произошла неизвестная ошибка!</translation>
    </message>
    <message>
        <source>Elapsed %1</source>
        <translation>Прошло %1</translation>
    </message>
    <message>
        <source>Command line: %1 %2
</source>
        <translation>Командная строка: %1 %2
</translation>
    </message>
    <message>
        <source>Update imitation...
</source>
        <translation>Имитация обновления...
</translation>
    </message>
    <message>
        <source>Update...
</source>
        <translation>Обновление...
</translation>
    </message>
    <message>
        <source>Application update imitation...
</source>
        <translation>Имитация обновления приложения...
</translation>
    </message>
    <message>
        <source>Application update...
</source>
        <translation>Обновление приложения...
</translation>
    </message>
    <message>
        <source>The switch command did not end within %1 seconds and was stopped.
</source>
        <translation>Команда переключения не завершилась за %1 с и была остановлена.
</translation>
    </message>
    <message>
        <source>The file system does not support snapshots.</source>
        <translation>Файловая система не поддерживает снимки.</translation>
    </message>
    <message>
        <source>Create system snapshot (%1)...
</source>
        <translation>Создание снимка системы (%1)...
</translation>
    </message>
    <message>
        <source> T</source>
        <translation> Т</translation>
    </message>
    <message>
        <source> G</source>
        <translation> Г</translation>
    </message>
    <message>
        <source> M</source>
        <translation> М</translation>
    </message>
    <message>
        <source> K</source>
        <translation> К</translation>
    </message>
    <message>
        <source>Available memory size: %1 (root partition)</source>
        <translation>Доступный объём памяти: %1 (корневой раздел)</translation>
    </message>
    <message>
        <source>Advanced</source>
        <translation>Усиленный</translation>
    </message>
    <message>
        <source>Brisvan</source>
        <translation>Брисван</translation>
    </message>
    <message>
        <source>Maximum</source>
        <translation>Максимальный</translation>
    </message>
    <message>
        <source>Kaldemor</source>
        <translation>Калдемор</translation>
    </message>
    <message>
        <source>Base</source>
        <translation>Базовый</translation>
    </message>
    <message>
        <source>Ulmet</source>
        <translation>Ульмет</translation>
    </message>
    <message>
        <source>Norvo Linux %1
%2 %3, «%4»
</source>
        <translation>Norvo Linux %1
%2 %3, «%4»
</translation>
    </message>
    <message>
        <source>security level</source>
        <translation>уровень защищённости</translation>
    </message>
    <message>
        <source>Update %1 installed (BULLETIN № %2)
</source>
        <translation>Установлено обновление %1 (БЮЛЛЕТЕНЬ № %2)
</translation>
    </message>
    <message>
        <source>Rollback...
</source>
        <translation>Откат...
</translation>
    </message>
    <message>
        <source>The update tool could not be started: %1
</source>
        <translation>Не удалось запустить программу обновления: %1
</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Warning!</source>
        <translation>Внимание!</translation>
    </message>
    <message>
        <source>%1 help</source>
        <translation>Справка: %1</translation>
    </message>
    <message>
        <source>You should run this application with superuser privileges.</source>
        <translation>Это приложение нужно запускать с правами суперпользователя.</translation>
    </message>
    <message>
        <source>To update the system, you must log into the session with a high level of integrity.</source>
        <translation>Чтобы обновить систему, войдите в сеанс с высоким уровнем целостности.</translation>
    </message>
    <message>
        <source>Package norvo-update is not installed!</source>
        <translation>Пакет norvo-update не установлен!</translation>
    </message>
    <message>
        <source>The automatic update service is active!
Please, check &apos;norvo-update-service&apos; status</source>
        <translation>Служба автоматического обновления активна!
Проверьте состояние «norvo-update-service».</translation>
    </message>
    <message>
        <source>The program could not be started again to carry on with the update. Start it yourself: it carries on where it stopped.</source>
        <translation>Программу не удалось запустить снова, чтобы продолжить обновление. Запустите её сами: она продолжит с того места, где остановилась.</translation>
    </message>
</context>
<context>
    <name>QtSingleApplication</name>
    <message>
        <source>The program cannot start: its lock folder %1 must belong to you and be writable by you alone. Correct its owner and mode, or remove it, and start the program again.</source>
        <translation>Программа не может запуститься: её папка блокировки %1 должна принадлежать вам и быть доступной для записи только вам. Исправьте её владельца и права доступа или удалите её и запустите программу снова.</translation>
    </message>
</context>
<context>
    <name>Snapshot</name>
    <message>
        <source>The program &quot;%1&quot; could not be started: %2</source>
        <translation>Не удалось запустить программу «%1»: %2</translation>
    </message>
    <message>
        <source>&quot;%1&quot; did not finish within %2 seconds and was stopped.</source>
        <translation>«%1» не завершилась за %2 с и была остановлена.</translation>
    </message>
</context>
<context>
    <name>SnapshotFile</name>
    <message>
        <source>%1 cannot be removed to make room for the snapshot: %2</source>
        <translation>Не удалось удалить %1, чтобы освободить место для снимка: %2</translation>
    </message>
    <message>
        <source>%1 cannot be made private: %2</source>
        <translation>Не удалось закрыть доступ к %1 для других пользователей: %2</translation>
    </message>
    <message>
        <source>%1 cannot be created: %2</source>
        <translation>Не удалось создать %1: %2</translation>
    </message>
    <message>
        <source>%1 cannot be created: something else keeps appearing at that name.</source>
        <translation>Не удалось создать %1: под этим именем всё время появляется что-то другое.</translation>
    </message>
    <message>
        <source>%1 cannot be read: %2</source>
        <translation>Не удалось прочитать %1: %2</translation>
    </message>
    <message>
        <source>%1 is not a regular file.</source>
        <translation>%1 не является обычным файлом.</translation>
    </message>
    <message>
        <source>%1 does not belong to root.</source>
        <translation>%1 не принадлежит root.</translation>
    </message>
    <message>
        <source>%1 can be changed by other users.</source>
        <translation>%1 могут изменять другие пользователи.</translation>
    </message>
    <message>
        <source>%1 has more than one name (hard links).</source>
        <translation>У %1 больше одного имени (жёсткие ссылки).</translation>
    </message>
    <message>
        <source>%1 can be read by other users.</source>
        <translation>%1 могут читать другие пользователи.</translation>
    </message>
    <message>
        <source>%1 cannot be marked as complete: %2</source>
        <translation>Не удалось отметить %1 как завершённый: %2</translation>
    </message>
</context>
<context>
    <name>SourceDialog</name>
    <message>
        <source>Source</source>
        <translation>Источник</translation>
    </message>
    <message>
        <source>ISO image</source>
        <translation>ISO-образ</translation>
    </message>
    <message>
        <source>Network repository</source>
        <translation>Сетевой репозиторий</translation>
    </message>
    <message>
        <source>An ISO image file or network repository can be selected as the source. Several sources may be indicated. Possible sources:
- ISO/repository of the installation disk;
- ISO/repository with update;
- ISO/repository with development tools;
- ISO/repository with updated development tools.</source>
        <translation>Источником может быть файл ISO-образа или сетевой репозиторий. Можно указать несколько источников. Возможные источники:
- ISO-образ/репозиторий установочного диска;
- ISO-образ/репозиторий с обновлением;
- ISO-образ/репозиторий со средствами разработки;
- ISO-образ/репозиторий с обновлёнными средствами разработки.</translation>
    </message>
    <message>
        <source>Specify the path to the ISO image</source>
        <translation>Укажите путь к ISO-образу</translation>
    </message>
    <message>
        <source>The source is not ISO image. </source>
        <translation>Источник не является ISO-образом. </translation>
    </message>
    <message>
        <source>The source is not a network address. </source>
        <translation>Источник не является сетевым адресом. </translation>
    </message>
    <message>
        <source>Enter the correct source.</source>
        <translation>Введите правильный источник.</translation>
    </message>
    <message>
        <source>Specify a link to the network repository</source>
        <translation>Укажите ссылку на сетевой репозиторий</translation>
    </message>
    <message>
        <source>Select ISO image</source>
        <translation>Выбор ISO-образа</translation>
    </message>
    <message>
        <source>ISO images (*.iso)</source>
        <translation>ISO-образы (*.iso)</translation>
    </message>
</context>
<context>
    <name>UpdateLogWidget</name>
    <message>
        <source>Do not shutdown and reboot the system!</source>
        <translation>Не выключайте и не перезагружайте систему!</translation>
    </message>
    <message>
        <source>Back</source>
        <translation>Назад</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Выход</translation>
    </message>
</context>
<context>
    <name>XfsSnapshot</name>
    <message>
        <source>The free space of / cannot be read: %1</source>
        <translation>Не удалось узнать свободное место в /: %1</translation>
    </message>
    <message>
        <source>The free space of %1 cannot be read: %2</source>
        <translation>Не удалось узнать свободное место в %1: %2</translation>
    </message>
    <message>
        <source>Not enough free space for the snapshot: the dump of / needs about %1 MB, %2 has %3 MB free.</source>
        <translation>Недостаточно места для снимка: копии / нужно около %1 МБ, а в %2 свободно %3 МБ.</translation>
    </message>
    <message>
        <source>%1 is not a complete snapshot.</source>
        <translation>%1 не является полным снимком.</translation>
    </message>
    <message>
        <source>%1 cannot be kept during the restore: %2</source>
        <translation>Не удалось сохранить %1 на время восстановления: %2</translation>
    </message>
</context>
</TS>
